#include "platform/zuv/sqlite_errors.hpp"

#include "platform/error.hpp"

namespace zx {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string Abbreviated(std::string_view sql) {
  constexpr size_t kMax = 200;
  if (sql.size() <= kMax) return std::string(sql);
  return std::string(sql.substr(0, kMax)) + "...";
}

std::string MessageOf(sqlite3* db) {
  std::string message = sqlite3_errmsg(db);
  const int primary = sqlite3_errcode(db) & 0xff;
  if (primary != SQLITE_IOERR && primary != SQLITE_FULL && primary != SQLITE_CANTOPEN) {
    return message;
  }
  // SQLite keeps the thread's errno of its last report, which the clean-up
  // after a failed write (the journal's rollback) may have replaced; the
  // file's own record of its last failure comes first.
  int systemError = 0;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &systemError);
  if (systemError == 0) {
    sqlite3_file* journal = nullptr;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &journal);
    if (journal != nullptr && journal->pMethods != nullptr) {
      journal->pMethods->xFileControl(journal, SQLITE_FCNTL_LAST_ERRNO, &systemError);
    }
  }
  if (systemError == 0) systemError = sqlite3_system_errno(db);
  if ((primary == SQLITE_IOERR || primary == SQLITE_FULL || primary == SQLITE_CANTOPEN) &&
      systemError != 0) {
    message += ": " + SystemErrorText(systemError);
  }
  return message;
}

// Every SQLite result code becomes an exporter error here, and only here.
[[noreturn]] void ThrowSqlite(int rc, std::string_view message, std::string_view context) {
  const int primary = rc & 0xff;
  uint32_t code = codes::kEngineError;
  std::string prefix;
  if (primary == SQLITE_FULL || primary == SQLITE_NOMEM || rc == SQLITE_IOERR_NOMEM) {
    code = codes::kResourcesExceeded;
  } else if (rc == SQLITE_CONSTRAINT_NOTNULL) {
    code = codes::kRequiredFieldEmpty;
  } else if (primary == SQLITE_NOTADB) {
    code = codes::kNotADatabase;
  } else if (primary == SQLITE_ERROR) {
    // SQLite has no distinct codes for these; its messages are stable.
    if (StartsWith(message, "no such column")) {
      code = codes::kTooFewParameters;
      prefix = "Too few parameters. Expected 1. ";
    } else if (StartsWith(message, "no such table")) {
      code = codes::kTableNotFound;
    } else if (message.find("syntax error") != std::string_view::npos ||
               StartsWith(message, "incomplete input") ||
               StartsWith(message, "unrecognized token")) {
      code = codes::kSyntaxError;
    }
  }
  std::string description = prefix + std::string(message);
  if (!context.empty()) description += " (" + std::string(context) + ")";
  throw CExportError(code, kZuvEngineSource, std::move(description));
}

[[noreturn]] void ThrowSqlite(int rc, sqlite3* db, std::string_view context) {
  ThrowSqlite(rc, db != nullptr ? MessageOf(db) : std::string(sqlite3_errstr(rc)), context);
}

[[noreturn]] void ThrowEngine(uint32_t code, std::string description) {
  throw CExportError(code, kZuvEngineSource, std::move(description));
}

[[noreturn]] void ThrowItemNotFound(std::string_view what, std::string_view table) {
  ThrowEngine(codes::kMissingField, "Item not found in this collection. (field " +
                                        std::string(what) + " of '" + std::string(table) + "')");
}

}  // namespace zx
