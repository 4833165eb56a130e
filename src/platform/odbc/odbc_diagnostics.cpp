#include "platform/odbc/odbc_diagnostics.hpp"

#include <algorithm>
#include <string>
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

std::vector<CDiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<CDiagRecord> records;
  if (handle == SQL_NULL_HANDLE) return records;
  // Wide, as the connection was made: the server's texts (a login name,
  // an object name) come back as it sent them.
  std::vector<SQLWCHAR> message(512);
  for (SQLSMALLINT number = 1;; ++number) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<size_t>(length) >= message.size()) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    const size_t used =
        std::min(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
    size_t stateLength = 0;
    while (stateLength < 5 && state[stateLength] != 0) ++stateLength;
    records.push_back({FromOdbcWide(state, stateLength), FromOdbcWide(message.data(), used)});
  }
  return records;
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
                                 std::string_view call) {
  const std::vector<CDiagRecord> records = ReadDiagnostics(handleType, handle);
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
bool HasErrorRecord(SQLSMALLINT handleType, SQLHANDLE handle) {
  for (const CDiagRecord& record : ReadDiagnostics(handleType, handle)) {
    if (record.state.rfind("01", 0) != 0) return true;
  }
  return false;
}

}  // namespace

void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view call) {
  if (!SQL_SUCCEEDED(rc) || (rc == SQL_SUCCESS_WITH_INFO && HasErrorRecord(handleType, handle))) {
    ThrowOdbcError(handleType, handle, rc, call);
  }
}

// Statement options that a driver may not implement (HYC00) are not worth
// failing an export for: forward-only read-only is every driver's default.
void SetOptionalStatementAttr(SQLHSTMT statement, SQLINTEGER attribute, SQLULEN value) {
  const SQLRETURN rc =
      SQLSetStmtAttr(statement, attribute, reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER);
  if (rc == SQL_SUCCESS) return;
  const std::vector<CDiagRecord> records = ReadDiagnostics(SQL_HANDLE_STMT, statement);
  if (!records.empty() && records.front().state == "HYC00") return;
  Check(rc, SQL_HANDLE_STMT, statement, "SQLSetStmtAttr");
}

}  // namespace zx
