// The source connection on unixODBC. Rows come in blocks through bound
// column arrays; values too long for a bound buffer are completed with
// SQLGetData, which needs a rowset of one row (see docs/source_database.md).
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

#include "platform/dates.hpp"
#include "platform/error.hpp"
#include "platform/interruption.hpp"
#include "platform/odbc/connect_checks.hpp"
#include "platform/odbc/source.hpp"

namespace zx {
namespace {

// Bound buffers of one block stay within this size; a row of ten short
// columns gets the maximum rows per SQLFetch.
constexpr size_t kBlockBytes = 4u << 20;
constexpr SQLULEN kMaxBlockRows = 1000;
// Texts and binaries declared longer than this are read whole with SQLGetData.
constexpr SQLULEN kLongValueBytes = 16u << 10;
// First part of a value whose real length the driver cannot promise; the
// rest is read with SQLGetData.
constexpr SQLLEN kFirstChunkBytes = 1024;
// A SQLite number or date-time as text is far shorter than this.
constexpr SQLLEN kNumberTextBytes = 64;

// ---------------------------------------------------------------------------
// Diagnostics

struct CDiagRecord {
  std::string state;
  std::string message;
};

std::vector<CDiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<CDiagRecord> records;
  if (handle == SQL_NULL_HANDLE) return records;
  std::string message(512, '\0');
  for (SQLSMALLINT number = 1;; ++number) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handleType, handle, number, state, &native,
                                 reinterpret_cast<SQLCHAR*>(message.data()),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<size_t>(length) >= message.size()) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRec(handleType, handle, number, state, &native,
                         reinterpret_cast<SQLCHAR*>(message.data()),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    const size_t used =
        std::min(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
    records.push_back({reinterpret_cast<const char*>(state), message.substr(0, used)});
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
  std::string description;
  for (const CDiagRecord& record : records) {
    if (!description.empty()) description += "; ";
    std::string_view text = record.message;
    if (!source.empty() && ComponentPrefix(text) == source) text.remove_prefix(source.size());
    description += fmt::format("[{}] {}", record.state, text);
  }
  throw CExportError(codes::kFail, source.empty() ? std::string("ODBC") : source, description);
}

// A call that succeeded "with information" may still carry an error: FreeTDS
// ends a block fetch that a server error cut short that way, and answers
// SQL_NO_DATA next. Only warnings (SQLSTATE class 01) are passed over.
bool HasErrorRecord(SQLSMALLINT handleType, SQLHANDLE handle) {
  for (const CDiagRecord& record : ReadDiagnostics(handleType, handle)) {
    if (record.state.rfind("01", 0) != 0) return true;
  }
  return false;
}

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

// ---------------------------------------------------------------------------
// Handles: one owner each.

struct CEnvDeleter {
  void operator()(SQLHENV env) const noexcept { SQLFreeHandle(SQL_HANDLE_ENV, env); }
};
struct CDbcDeleter {
  void operator()(SQLHDBC dbc) const noexcept { SQLFreeHandle(SQL_HANDLE_DBC, dbc); }
};
struct CStmtDeleter {
  void operator()(SQLHSTMT stmt) const noexcept { SQLFreeHandle(SQL_HANDLE_STMT, stmt); }
};
using CEnvHandle = std::unique_ptr<void, CEnvDeleter>;
using CDbcHandle = std::unique_ptr<void, CDbcDeleter>;
using CStmtHandle = std::unique_ptr<void, CStmtDeleter>;

class COdbcRecordset;

// What a connection and its recordsets share; the driver connection ends
// with the last owner.
struct CConnectionState {
  ~CConnectionState() {
    if (m_connected) SQLDisconnect(m_dbc.get());
  }
  CEnvHandle m_env;  // declared first: freed after the connection
  CDbcHandle m_dbc;
  bool m_connected = false;
  SqlDialect m_dialect = SqlDialect::Other;
  SQLUINTEGER m_getDataExtensions = 0;
  SQLULEN m_queryTimeout = 0;
  bool m_typeByValue = false;  // SQLite: values read as text and typed here

  std::mutex m_activeLock;
  COdbcRecordset* m_active = nullptr;  // GUARDED_BY(m_activeLock)
  // Cancels the active statement when the process is asked to stop.
  std::unique_ptr<CInterruptionHook> m_interruptionHook;
};

// ---------------------------------------------------------------------------
// Values from SQLite texts. The SQLite driver turns every value into text and
// parses it back to the asked C type, silently (an INTEGER column holding
// 2^40 read as a 32-bit integer gives 0, a date text it cannot parse gives
// NULL). Reading the text and typing it here keeps every value.

enum class CKind : uint8_t { Int16, Int32, Int64, Double, Bool, Text, DateTime, Binary, Untyped };

// Integers as SQLite writes them: optional '-', no leading zeros.
std::optional<int64_t> ParseSqliteInteger(std::string_view text) {
  const size_t digits = (!text.empty() && text[0] == '-') ? 1 : 0;
  if (text.size() == digits || text.size() > digits + 19) return std::nullopt;
  if (text[digits] == '0' && text.size() > digits + 1) return std::nullopt;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Reals as SQLite writes them ("0.5", "1.0e+300"): never a bare integer.
std::optional<double> ParseSqliteReal(std::string_view text) {
  if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return std::nullopt;
  if (text.find_first_of(".eE") == std::string_view::npos) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool ReadDigits(std::string_view text, size_t pos, size_t count, int& out) {
  if (pos + count > text.size()) return false;
  out = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

// "YYYY-MM-DD[( |T)HH:MM[:SS[.fffffffff]]]", a real calendar date and time.
std::optional<CDateTime> ParseSqliteDateTime(std::string_view text) {
  int year, month, day, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
      !ReadDigits(text, 5, 2, month) || text[7] != '-' || !ReadDigits(text, 8, 2, day)) {
    return std::nullopt;
  }
  uint32_t nanosecond = 0;
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || !ReadDigits(text, 11, 2, hour) ||
        text.size() < 16 || text[13] != ':' || !ReadDigits(text, 14, 2, minute)) {
      return std::nullopt;
    }
    size_t pos = 16;
    if (pos < text.size()) {
      if (text[pos] != ':' || !ReadDigits(text, pos + 1, 2, second)) return std::nullopt;
      pos += 3;
    }
    if (pos < text.size()) {
      const size_t digits = text.size() - pos - 1;
      if (text[pos] != '.' || digits == 0 || digits > 9) return std::nullopt;
      int part = 0;
      for (size_t i = pos + 1; i < text.size(); ++i) {
        if (!ReadDigits(text, i, 1, part)) return std::nullopt;
        nanosecond = nanosecond * 10 + static_cast<uint32_t>(part);
      }
      for (size_t i = digits; i < 9; ++i) nanosecond *= 10;
    }
  }
  if (!IsCalendarDay(year, month, day) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return CDateTime::From(year, month, day, hour, minute, second, nanosecond);
}

CValue IntegerValue(int64_t value, CKind preferred) {
  if (preferred == CKind::Int16 && value >= INT16_MIN && value <= INT16_MAX) {
    return CValue::FromInt16(static_cast<int16_t>(value));
  }
  if (preferred != CKind::Int64 && value >= INT32_MIN && value <= INT32_MAX) {
    return CValue::FromInt32(static_cast<int32_t>(value));
  }
  return CValue::FromInt64(value);
}

// The declared kind decides the type when the text fits it; any other text
// is kept as it stands.
CValue ValueFromSqliteText(CKind kind, std::string_view text) {
  switch (kind) {
    case CKind::Text:
      return CValue::FromText(std::string(text));
    case CKind::DateTime:
      if (auto value = ParseSqliteDateTime(text)) return CValue::FromDateTime(*value);
      return CValue::FromText(std::string(text));
    case CKind::Double:
      if (auto value = ParseSqliteInteger(text)) {
        return CValue::FromDouble(static_cast<double>(*value));
      }
      break;
    case CKind::Bool:
      if (auto value = ParseSqliteInteger(text)) return CValue::FromBool(*value != 0);
      break;
    default:
      if (auto value = ParseSqliteInteger(text)) return IntegerValue(*value, kind);
      break;
  }
  if (auto value = ParseSqliteReal(text)) return CValue::FromDouble(*value);
  return CValue::FromText(std::string(text));
}

// ---------------------------------------------------------------------------
// Column plans

bool IsCharType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return true;
    default:
      return false;
  }
}

CKind KindOfSqlType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_SMALLINT:
    case SQL_TINYINT:
      return CKind::Int16;
    case SQL_INTEGER:
      return CKind::Int32;
    case SQL_BIGINT:
      return CKind::Int64;
    case SQL_BIT:
      return CKind::Bool;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return CKind::Double;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP:
      return CKind::DateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return CKind::Binary;
    default:
      return CKind::Text;  // texts, GUID, TIME and whatever else has a text form
  }
}

// The SQLite driver calls a column without declared type (and every
// expression: COUNT(*), MAX(x)) "varchar"; a declared type without CHAR, CLOB
// or TEXT has no text affinity in SQLite either. Both are typed by value.
bool IsUntypedSqliteColumn(std::string_view typeName) {
  if (typeName == "varchar") return true;
  std::string upper(typeName);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find("CHAR") == std::string::npos && upper.find("CLOB") == std::string::npos &&
         upper.find("TEXT") == std::string::npos;
}

struct CColumn {
  std::string name;
  CKind kind = CKind::Text;
  SQLSMALLINT cType = SQL_C_CHAR;
  bool varLength = false;    // SQL_C_CHAR or SQL_C_BINARY
  bool mayOverflow = false;  // the bound buffer may be too short for a value
  bool bound = true;
  SQLLEN elementBytes = 0;  // per row in the bound array
  size_t offset = 0;        // of the column's array in the buffer
};

SQLLEN FixedSize(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_SSHORT:
      return sizeof(SQLSMALLINT);
    case SQL_C_SLONG:
      return sizeof(SQLINTEGER);
    case SQL_C_SBIGINT:
      return sizeof(SQLBIGINT);
    case SQL_C_DOUBLE:
      return sizeof(SQLDOUBLE);
    case SQL_C_BIT:
      return sizeof(SQLCHAR);
    case SQL_C_TYPE_TIMESTAMP:
      return sizeof(SQL_TIMESTAMP_STRUCT);
    default:
      return 0;
  }
}

SQLSMALLINT NativeCType(CKind kind) {
  switch (kind) {
    case CKind::Int16:
      return SQL_C_SSHORT;
    case CKind::Int32:
      return SQL_C_SLONG;
    case CKind::Int64:
      return SQL_C_SBIGINT;
    case CKind::Double:
      return SQL_C_DOUBLE;
    case CKind::Bool:
      return SQL_C_BIT;
    case CKind::DateTime:
      return SQL_C_TYPE_TIMESTAMP;
    case CKind::Binary:
      return SQL_C_BINARY;
    default:
      return SQL_C_CHAR;
  }
}

template <typename T>
T Load(const char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

struct CStringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// ---------------------------------------------------------------------------

class COdbcRecordset final : public CSourceRecordset {
 public:
  COdbcRecordset(std::shared_ptr<CConnectionState> state, CStmtHandle statement)
      : m_state(std::move(state)), m_statement(std::move(statement)) {}

  ~COdbcRecordset() override { Close(); }

  void Open(const std::string& sql);

  bool IsEOF() const override { return m_eof; }
  void MoveNext() override;
  int FieldCount() const override { return static_cast<int>(m_columns.size()); }
  const std::string& FieldName(int index) const override { return m_columns.at(index).name; }
  const CValue& FieldValue(int index) const override;
  int FieldIndex(std::string_view name) const override;
  void Close() override;

  // Stops a running SQLExecDirect or SQLFetch of another thread; that call
  // then fails. REQUIRES: m_activeLock held.
  void CancelStatement() noexcept {
    if (m_statement) SQLCancel(Statement());
  }

  // Called by the connection under m_activeLock when the next Execute comes.
  void ReleaseStatement() noexcept {
    m_statement.reset();
    m_eof = true;
  }

 private:
  SQLHSTMT Statement() const { return m_statement.get(); }
  void Describe();
  void Plan();
  void Bind();
  void FetchBlock();
  void LoadRow(SQLULEN row);
  CValue LoadValue(size_t column, SQLULEN row);
  bool ReadWhole(size_t column, std::string& out);

  std::shared_ptr<CConnectionState> m_state;
  CStmtHandle m_statement;
  std::vector<CColumn> m_columns;
  std::unordered_map<std::string, int, CStringHash, std::equal_to<>> m_indexByName;

  SQLULEN m_rowsetSize = 1;
  std::unique_ptr<uint64_t[]> m_buffer;  // 8-byte aligned column arrays
  std::vector<SQLLEN> m_indicators;      // column-major: [column * rowset + row]
  std::vector<SQLUSMALLINT> m_rowStatus;
  SQLULEN m_rowsFetched = 0;
  SQLULEN m_rowInBlock = 0;

  std::vector<CValue> m_current;
  std::string m_whole;  // reused for values read with SQLGetData
  std::vector<char> m_chunk;
  bool m_eof = true;
};

void COdbcRecordset::Open(const std::string& sql) {
  SetOptionalStatementAttr(Statement(), SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
  SetOptionalStatementAttr(Statement(), SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY);
  SetOptionalStatementAttr(Statement(), SQL_ATTR_QUERY_TIMEOUT, m_state->m_queryTimeout);

  const SQLRETURN rc =
      SQLExecDirect(Statement(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data())),
                    static_cast<SQLINTEGER>(sql.size()));
  if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, Statement(), "SQLExecDirect");

  Describe();
  if (m_columns.empty()) return;  // a statement without a result
  Plan();
  Bind();
  FetchBlock();
}

void COdbcRecordset::Describe() {
  SQLSMALLINT count = 0;
  Check(SQLNumResultCols(Statement(), &count), SQL_HANDLE_STMT, Statement(), "SQLNumResultCols");
  m_columns.resize(static_cast<size_t>(count));
  const bool typeByValue = m_state->m_typeByValue;
  std::vector<SQLCHAR> name(256);
  for (SQLUSMALLINT i = 0; i < static_cast<SQLUSMALLINT>(count); ++i) {
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    auto describe = [&] {
      return SQLDescribeCol(Statement(), i + 1, name.data(), static_cast<SQLSMALLINT>(name.size()),
                            &nameLength, &sqlType, &size, &digits, &nullable);
    };
    SQLRETURN rc = describe();
    if (SQL_SUCCEEDED(rc) && static_cast<size_t>(nameLength) >= name.size()) {
      name.resize(static_cast<size_t>(nameLength) + 1);
      rc = describe();
    }
    Check(rc, SQL_HANDLE_STMT, Statement(), "SQLDescribeCol");

    CColumn& column = m_columns[i];
    column.name.assign(reinterpret_cast<const char*>(name.data()),
                       std::min<size_t>(static_cast<size_t>(nameLength), name.size() - 1));
    column.kind = KindOfSqlType(sqlType);
    if (typeByValue && IsCharType(sqlType)) {
      char typeName[128] = {};
      SQLSMALLINT typeLength = 0;
      Check(SQLColAttribute(Statement(), i + 1, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                            &typeLength, nullptr),
            SQL_HANDLE_STMT, Statement(), "SQLColAttribute");
      if (IsUntypedSqliteColumn(typeName)) column.kind = CKind::Untyped;
    }

    // SQLite declares sizes it does not enforce and converts silently, so
    // its values are read as text (or bytes) of any length.
    column.cType =
        typeByValue && column.kind != CKind::Binary ? SQL_C_CHAR : NativeCType(column.kind);
    column.varLength = column.cType == SQL_C_CHAR || column.cType == SQL_C_BINARY;
    if (!column.varLength) {
      column.elementBytes = FixedSize(column.cType);
      continue;
    }
    const bool text = column.cType == SQL_C_CHAR;
    const bool numberText = text && column.kind != CKind::Text && column.kind != CKind::Untyped;
    // Up to 4 UTF-8 bytes per declared character.
    const SQLULEN wanted = text ? size * 4 : size;
    const bool longType =
        sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR || sqlType == SQL_LONGVARBINARY;
    if (typeByValue) {
      column.mayOverflow = true;
      column.elementBytes =
          numberText ? kNumberTextBytes
                     : std::clamp<SQLLEN>(static_cast<SQLLEN>(wanted), 16, kFirstChunkBytes);
    } else if (size == 0 || longType || wanted > kLongValueBytes) {
      column.mayOverflow = true;
      column.elementBytes = kFirstChunkBytes;
    } else {
      column.elementBytes = static_cast<SQLLEN>(wanted);
    }
    if (text) ++column.elementBytes;  // the driver's terminator
  }
}

void COdbcRecordset::Plan() {
  const bool anyOverflow = std::any_of(m_columns.begin(), m_columns.end(),
                                       [](const CColumn& c) { return c.mayOverflow; });
  const SQLUINTEGER extensions = m_state->m_getDataExtensions;
  if (anyOverflow) {
    // SQLGetData completes a long value, and needs a rowset of one unless the
    // driver supports SQL_GD_BLOCK; few do, and the row-by-row path costs the
    // SQLite driver nothing measurable.
    m_rowsetSize = 1;
    if (!(extensions & SQL_GD_BOUND) || !(extensions & SQL_GD_ANY_COLUMN)) {
      // Then SQLGetData cannot complete a bound column: long columns stay
      // unbound, and so do all after the first of them unless any column may be.
      bool unbound = false;
      for (CColumn& column : m_columns) {
        if (column.mayOverflow) unbound = true;
        column.bound = !(column.mayOverflow || (unbound && !(extensions & SQL_GD_ANY_COLUMN)));
      }
    }
  } else {
    size_t rowBytes = 0;
    for (const CColumn& column : m_columns) {
      rowBytes += static_cast<size_t>(column.elementBytes) + sizeof(SQLLEN);
    }
    m_rowsetSize =
        std::clamp<SQLULEN>(kBlockBytes / std::max<size_t>(rowBytes, 1), 1, kMaxBlockRows);
  }

  size_t total = 0;
  for (CColumn& column : m_columns) {
    column.offset = total;
    total += (static_cast<size_t>(column.elementBytes) * m_rowsetSize + 7) & ~size_t{7};
  }
  m_buffer = std::make_unique<uint64_t[]>(total / 8 + 1);
  m_indicators.assign(m_columns.size() * m_rowsetSize, 0);
  m_rowStatus.assign(m_rowsetSize, 0);
  m_current.resize(m_columns.size());

  m_indexByName.reserve(m_columns.size());
  for (size_t i = 0; i < m_columns.size(); ++i) {
    m_indexByName.emplace(m_columns[i].name, static_cast<int>(i));
  }
}

void COdbcRecordset::Bind() {
  SQLHSTMT stmt = Statement();
  auto set = [&](SQLINTEGER attribute, SQLPOINTER value) {
    Check(SQLSetStmtAttr(stmt, attribute, value, 0), SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr");
  };
  set(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN));
  set(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(m_rowsetSize));
  set(SQL_ATTR_ROWS_FETCHED_PTR, &m_rowsFetched);
  set(SQL_ATTR_ROW_STATUS_PTR, m_rowStatus.data());

  char* base = reinterpret_cast<char*>(m_buffer.get());
  for (size_t i = 0; i < m_columns.size(); ++i) {
    const CColumn& column = m_columns[i];
    if (!column.bound) continue;
    Check(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), column.cType, base + column.offset,
                     column.elementBytes, &m_indicators[i * m_rowsetSize]),
          SQL_HANDLE_STMT, stmt, "SQLBindCol");
  }
}

void COdbcRecordset::FetchBlock() {
  m_rowInBlock = 0;
  m_rowsFetched = 0;
  const SQLRETURN rc = SQLFetch(Statement());
  if (rc == SQL_NO_DATA) {
    m_eof = true;
    return;
  }
  Check(rc, SQL_HANDLE_STMT, Statement(), "SQLFetch");
  for (SQLULEN row = 0; row < m_rowsFetched; ++row) {
    if (m_rowStatus[row] == SQL_ROW_ERROR) {
      ThrowOdbcError(SQL_HANDLE_STMT, Statement(), rc, "SQLFetch");
    }
  }
  m_eof = m_rowsFetched == 0;
  if (!m_eof) LoadRow(0);
}

void COdbcRecordset::MoveNext() {
  if (m_eof) ThrowNoCurrentRow();
  if (++m_rowInBlock < m_rowsFetched) {
    LoadRow(m_rowInBlock);
    return;
  }
  FetchBlock();
}

void COdbcRecordset::LoadRow(SQLULEN row) {
  for (size_t i = 0; i < m_columns.size(); ++i) m_current[i] = LoadValue(i, row);
}

CValue COdbcRecordset::LoadValue(size_t index, SQLULEN row) {
  const CColumn& column = m_columns[index];
  const char* data = reinterpret_cast<const char*>(m_buffer.get()) + column.offset +
                     row * static_cast<size_t>(column.elementBytes);
  SQLLEN indicator = m_indicators[index * m_rowsetSize + row];

  std::string_view bytes;
  if (column.varLength) {
    const SQLLEN room = column.elementBytes - (column.cType == SQL_C_CHAR ? 1 : 0);
    if (!column.bound || indicator == SQL_NO_TOTAL || indicator > room) {
      if (m_rowsetSize != 1) {
        // Sizes from this server are trusted for block fetches; a longer
        // value would otherwise be cut without a word.
        throw CExportError(
            codes::kFail, "ODBC",
            fmt::format("The value of field {} is longer than its declared size", column.name));
      }
      if (!ReadWhole(index, m_whole)) return CValue();
      bytes = m_whole;
    } else if (indicator == SQL_NULL_DATA) {
      return CValue();
    } else {
      bytes = std::string_view(data, static_cast<size_t>(indicator));
    }
    if (column.cType == SQL_C_BINARY) {
      return CValue::FromBinary(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    if (m_state->m_typeByValue) return ValueFromSqliteText(column.kind, bytes);
    return CValue::FromText(std::string(bytes));
  }

  if (!column.bound) {
    char* slot = reinterpret_cast<char*>(m_buffer.get()) + column.offset;
    Check(SQLGetData(Statement(), static_cast<SQLUSMALLINT>(index + 1), column.cType, slot,
                     column.elementBytes, &indicator),
          SQL_HANDLE_STMT, Statement(), "SQLGetData");
    data = slot;
  }
  if (indicator == SQL_NULL_DATA) return CValue();
  switch (column.cType) {
    case SQL_C_SSHORT:
      return CValue::FromInt16(Load<SQLSMALLINT>(data));
    case SQL_C_SLONG:
      return CValue::FromInt32(Load<SQLINTEGER>(data));
    case SQL_C_SBIGINT:
      return CValue::FromInt64(Load<SQLBIGINT>(data));
    case SQL_C_DOUBLE:
      return CValue::FromDouble(Load<SQLDOUBLE>(data));
    case SQL_C_BIT:
      return CValue::FromBool(Load<SQLCHAR>(data) != 0);
    case SQL_C_TYPE_TIMESTAMP: {
      const auto ts = Load<SQL_TIMESTAMP_STRUCT>(data);
      return CValue::FromDateTime(CDateTime::From(ts.year, ts.month, ts.day, ts.hour, ts.minute,
                                                  ts.second, static_cast<uint32_t>(ts.fraction)));
    }
    default:
      return CValue();
  }
}

// The whole value of a text or binary column of the current row; false for NULL.
bool COdbcRecordset::ReadWhole(size_t index, std::string& out) {
  const CColumn& column = m_columns[index];
  const SQLLEN terminator = column.cType == SQL_C_CHAR ? 1 : 0;
  if (m_chunk.size() < 4096) m_chunk.resize(4096);
  out.clear();
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        SQLGetData(Statement(), static_cast<SQLUSMALLINT>(index + 1), column.cType, m_chunk.data(),
                   static_cast<SQLLEN>(m_chunk.size()), &indicator);
    if (rc == SQL_NO_DATA) return true;  // every part has been read
    Check(rc, SQL_HANDLE_STMT, Statement(), "SQLGetData");
    if (indicator == SQL_NULL_DATA) return false;
    const SQLLEN room = static_cast<SQLLEN>(m_chunk.size()) - terminator;
    if (indicator != SQL_NO_TOTAL && indicator <= room) {
      out.append(m_chunk.data(), static_cast<size_t>(indicator));
      return true;
    }
    out.append(m_chunk.data(), static_cast<size_t>(room));
    // The indicator gives what is left: take it in one more call.
    if (indicator != SQL_NO_TOTAL) {
      m_chunk.resize(static_cast<size_t>(indicator - room + terminator));
    } else {
      m_chunk.resize(m_chunk.size() * 2);
    }
  }
}

const CValue& COdbcRecordset::FieldValue(int index) const {
  if (m_eof) ThrowNoCurrentRow();
  if (index < 0 || static_cast<size_t>(index) >= m_current.size()) ThrowFieldNotFound();
  return m_current[static_cast<size_t>(index)];
}

int COdbcRecordset::FieldIndex(std::string_view name) const {
  const auto it = m_indexByName.find(name);
  return it == m_indexByName.end() ? -1 : it->second;
}

void COdbcRecordset::Close() {
  std::lock_guard lock(m_state->m_activeLock);
  if (m_state->m_active == this) m_state->m_active = nullptr;
  ReleaseStatement();
}

// ---------------------------------------------------------------------------

class COdbcConnection final : public CSourceConnection {
 public:
  explicit COdbcConnection(std::shared_ptr<CConnectionState> state) : m_state(std::move(state)) {}

  std::unique_ptr<CSourceRecordset> Execute(const std::string& sql) override {
    std::unique_lock lock(m_state->m_activeLock);
    if (m_state->m_active != nullptr) {
      // One active statement per connection (FreeTDS): the newer query wins.
      m_state->m_active->ReleaseStatement();
      m_state->m_active = nullptr;
    }
    SQLHSTMT raw = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, m_state->m_dbc.get(), &raw), SQL_HANDLE_DBC,
          m_state->m_dbc.get(), "SQLAllocHandle");
    auto recordset = std::make_unique<COdbcRecordset>(m_state, CStmtHandle(raw));
    m_state->m_active = recordset.get();
    lock.unlock();
    recordset->Open(sql);
    return recordset;
  }

  SqlDialect Dialect() const override { return m_state->m_dialect; }

 private:
  std::shared_ptr<CConnectionState> m_state;
};

SqlDialect DialectOf(std::string_view dbmsName) {
  if (dbmsName.starts_with("Microsoft SQL Server")) return SqlDialect::SqlServer;
  if (dbmsName.starts_with("SQLite")) return SqlDialect::Sqlite;
  return SqlDialect::Other;
}

}  // namespace

std::unique_ptr<CSourceConnection> ConnectOdbc(const std::string& connectString,
                                               int queryTimeoutSeconds) {
  COdbcOptions options;
  options.queryTimeoutSeconds = queryTimeoutSeconds;
  return ConnectOdbc(connectString, options);
}

std::unique_ptr<CSourceConnection> ConnectOdbc(const std::string& connectString,
                                               const COdbcOptions& options) {
  const std::string checkedString = CheckSqliteDatabase(connectString);
  auto state = std::make_shared<CConnectionState>();
  state->m_queryTimeout = static_cast<SQLULEN>(std::max(options.queryTimeoutSeconds, 0));

  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    throw CExportError(codes::kFail, "ODBC", "[HY001] Cannot allocate an ODBC environment");
  }
  state->m_env.reset(env);
  Check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
        SQL_HANDLE_ENV, env, "SQLSetEnvAttr");
  SQLHDBC dbc = SQL_NULL_HDBC;
  Check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_HANDLE_ENV, env, "SQLAllocHandle");
  state->m_dbc.reset(dbc);

  Check(SQLDriverConnect(dbc, nullptr,
                         reinterpret_cast<SQLCHAR*>(const_cast<char*>(checkedString.c_str())),
                         SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
  state->m_connected = true;
  state->m_interruptionHook = std::make_unique<CInterruptionHook>([s = state.get()] {
    std::lock_guard lock(s->m_activeLock);
    if (s->m_active != nullptr) s->m_active->CancelStatement();
  });

  char dbmsName[256] = {};
  SQLSMALLINT length = 0;
  Check(SQLGetInfo(dbc, SQL_DBMS_NAME, dbmsName, sizeof dbmsName, &length), SQL_HANDLE_DBC, dbc,
        "SQLGetInfo");
  state->m_dialect = DialectOf(dbmsName);
  state->m_typeByValue = state->m_dialect == SqlDialect::Sqlite && !options.declaredTypes;
  SQLUINTEGER extensions = 0;
  if (SQL_SUCCEEDED(
          SQLGetInfo(dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr))) {
    state->m_getDataExtensions = extensions;
  }
  if (options.unboundLongValues) state->m_getDataExtensions = 0;
  return std::make_unique<COdbcConnection>(std::move(state));
}

}  // namespace zx
