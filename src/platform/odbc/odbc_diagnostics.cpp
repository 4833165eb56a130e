#include "platform/odbc/odbc_diagnostics.hpp"

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/odbc/odbc_text.hpp"

namespace zx {

namespace {

struct CDiagRecord {
  std::string state;
  std::string message;
};

// The records through SQLGetDiagRec or SQLGetDiagRecW, in the texts of the
// connection (odbc_text.hpp).
template <typename Char>
std::vector<CDiagRecord> ReadRecords(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<CDiagRecord> records;
  std::vector<Char> message(512);
  auto text = [](const Char* begin, size_t length) {
    if constexpr (std::is_same_v<Char, SQLWCHAR>) {
      return FromOdbcWide(begin, length);
    } else {
      return std::string(reinterpret_cast<const char*>(begin), length);
    }
  };
  for (SQLSMALLINT number = 1;; ++number) {
    Char state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    auto get = [&] {
      if constexpr (std::is_same_v<Char, SQLWCHAR>) {
        return SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                              static_cast<SQLSMALLINT>(message.size()), &length);
      } else {
        return SQLGetDiagRec(handleType, handle, number, state, &native, message.data(),
                             static_cast<SQLSMALLINT>(message.size()), &length);
      }
    };
    SQLRETURN rc = get();
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<size_t>(length) >= message.size()) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = get();
    }
    if (!SQL_SUCCEEDED(rc)) break;
    const size_t used =
        std::min(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
    size_t stateLength = 0;
    while (stateLength < 5 && state[stateLength] != 0) ++stateLength;
    records.push_back({text(state, stateLength), text(message.data(), used)});
  }
  return records;
}

std::vector<CDiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle,
                                         COdbcTexts texts) {
  if (handle == SQL_NULL_HANDLE) return {};
  return texts == COdbcTexts::Wide ? ReadRecords<SQLWCHAR>(handleType, handle)
                                   : ReadRecords<SQLCHAR>(handleType, handle);
}

// "[unixODBC][Driver Manager]Can't open lib" -> "[unixODBC][Driver Manager]".
std::string_view ComponentPrefix(std::string_view message) {
  size_t end = 0;
  while (end < message.size() && message[end] == '[') {
    const size_t close = message.find(']', end);
    if (close == std::string_view::npos) break;
    end = close + 1;
  }
  return message.substr(0, end);
}

}  // namespace

// The one translation of a failed ODBC call: every diagnostic record of the
// handle, the driver's component text as the source.
[[noreturn]] void ThrowOdbcError(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc,
                                 std::string_view call, COdbcTexts texts) {
  const std::vector<CDiagRecord> records = ReadDiagnostics(handleType, handle, texts);
  if (records.empty()) {
    throw CExportError(codes::kFail, "ODBC",
                       fmt::format("[HY000] {} failed (return code {})", call, rc));
  }
  const std::string source(ComponentPrefix(records.front().message));
  // A missing table is the one failure callers may expect and test for: SQL
  // Server says 42S02; the SQLite driver only says it in its message.
  const CDiagRecord& first = records.front();
  const bool tableNotFound =
      first.state == "42S02" || first.message.find("]no such table: ") != std::string::npos;
  std::string description;
  for (const CDiagRecord& record : records) {
    if (!description.empty()) description += "; ";
    std::string_view text = record.message;
    if (!source.empty() && ComponentPrefix(text) == source) text.remove_prefix(source.size());
    description += fmt::format("[{}] {}", record.state, text);
  }
  throw CExportError(tableNotFound ? codes::kTableNotFound : codes::kFail,
                     source.empty() ? std::string("ODBC") : source, description);
}

namespace {

// A call that succeeded "with information" may still carry an error: FreeTDS
// ends a block fetch that a server error cut short that way, and answers
// SQL_NO_DATA next. Only warnings (SQLSTATE class 01) are passed over.
bool HasErrorRecord(SQLSMALLINT handleType, SQLHANDLE handle, COdbcTexts texts) {
  for (const CDiagRecord& record : ReadDiagnostics(handleType, handle, texts)) {
    if (record.state.rfind("01", 0) != 0) return true;
  }
  return false;
}

}  // namespace

void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view call,
           COdbcTexts texts) {
  if (!SQL_SUCCEEDED(rc) ||
      (rc == SQL_SUCCESS_WITH_INFO && HasErrorRecord(handleType, handle, texts))) {
    ThrowOdbcError(handleType, handle, rc, call, texts);
  }
}

// Statement options that a driver may not implement (HYC00) are not worth
// failing an export for: forward-only read-only is every driver's default.
void SetOptionalStatementAttr(SQLHSTMT statement, SQLINTEGER attribute, SQLULEN value,
                              COdbcTexts texts) {
  const SQLRETURN rc =
      SQLSetStmtAttr(statement, attribute, reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER);
  if (rc == SQL_SUCCESS) return;
  const std::vector<CDiagRecord> records = ReadDiagnostics(SQL_HANDLE_STMT, statement, texts);
  if (!records.empty() && records.front().state == "HYC00") return;
  Check(rc, SQL_HANDLE_STMT, statement, "SQLSetStmtAttr", texts);
}

}  // namespace zx
