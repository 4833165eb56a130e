// The source recordset on unixODBC. Rows come in blocks through bound
// column arrays; values too long for a bound buffer are completed with
// SQLGetData, which needs a rowset of one row (see docs/source_database.md).
#include "platform/odbc/odbc_recordset.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/odbc/odbc_diagnostics.hpp"
#include "platform/odbc/odbc_text.hpp"
#include "platform/odbc/sqlite_text.hpp"

namespace zx {

namespace {

template <typename T>
T Load(const char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

void COdbcRecordset::Open(const std::string& sql) {
  SetOptionalStatementAttr(Statement(), SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY,
                           m_state->m_texts);
  SetOptionalStatementAttr(Statement(), SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY,
                           m_state->m_texts);
  SetOptionalStatementAttr(Statement(), SQL_ATTR_QUERY_TIMEOUT, m_state->m_queryTimeout,
                           m_state->m_texts);

  SQLRETURN rc = SQL_ERROR;
  if (m_state->m_texts == COdbcTexts::Wide) {
    COdbcWideText wide = ToOdbcWide(sql, "SQL text");
    rc = SQLExecDirectW(Statement(), wide.data(), static_cast<SQLINTEGER>(wide.size()));
  } else {
    rc = SQLExecDirect(Statement(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data())),
                       static_cast<SQLINTEGER>(sql.size()));
  }
  if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, Statement(), "SQLExecDirect", m_state->m_texts);

  Describe();
  if (m_columns.empty()) return;  // a statement without a result
  Plan();
  Bind();
  FetchBlock();
}

void COdbcRecordset::Describe() {
  SQLSMALLINT count = 0;
  Check(SQLNumResultCols(Statement(), &count), SQL_HANDLE_STMT, Statement(), "SQLNumResultCols",
        m_state->m_texts);
  m_columns.resize(static_cast<size_t>(count));
  const bool typeByValue = m_state->m_typeByValue;
  const bool wide = m_state->m_texts == COdbcTexts::Wide;
  std::vector<SQLWCHAR> wideName(256);
  std::vector<SQLCHAR> narrowName(256);
  for (SQLUSMALLINT i = 0; i < static_cast<SQLUSMALLINT>(count); ++i) {
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    auto describe = [&] {
      if (wide) {
        return SQLDescribeColW(Statement(), i + 1, wideName.data(),
                               static_cast<SQLSMALLINT>(wideName.size()), &nameLength, &sqlType,
                               &size, &digits, &nullable);
      }
      return SQLDescribeCol(Statement(), i + 1, narrowName.data(),
                            static_cast<SQLSMALLINT>(narrowName.size()), &nameLength, &sqlType,
                            &size, &digits, &nullable);
    };
    SQLRETURN rc = describe();
    if (SQL_SUCCEEDED(rc) && static_cast<size_t>(nameLength) >= wideName.size()) {
      wideName.resize(static_cast<size_t>(nameLength) + 1);
      narrowName.resize(static_cast<size_t>(nameLength) + 1);
      rc = describe();
    }
    Check(rc, SQL_HANDLE_STMT, Statement(), "SQLDescribeCol", m_state->m_texts);

    CColumn& column = m_columns[i];
    const size_t length = std::min<size_t>(
        static_cast<size_t>(std::max<SQLSMALLINT>(nameLength, 0)), wideName.size() - 1);
    column.name = wide ? FromOdbcWide(wideName.data(), length)
                       : std::string(reinterpret_cast<const char*>(narrowName.data()), length);
    column.kind = KindOfSqlType(sqlType);
    if (typeByValue && IsCharType(sqlType)) {
      char typeName[128] = {};
      SQLSMALLINT typeLength = 0;
      Check(SQLColAttribute(Statement(), i + 1, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                            &typeLength, nullptr),
            SQL_HANDLE_STMT, Statement(), "SQLColAttribute", m_state->m_texts);
      if (IsUntypedSqliteColumn(typeName)) column.kind = CKind::Untyped;
    }

    PlanColumn(column, sqlType, size, typeByValue);
  }
}

void COdbcRecordset::Plan() {
  const size_t total = PlanRowset(m_columns, m_state->m_getDataExtensions, m_rowsetSize);
  m_buffer = std::make_unique<uint64_t[]>(total / 8 + 1);
  m_indicators.assign(m_columns.size() * m_rowsetSize, 0);
  m_rowStatus.assign(m_rowsetSize, 0);
  m_current.resize(m_columns.size());
  m_loaded.assign(m_columns.size(), 0);

  m_indexByName.reserve(m_columns.size());
  for (size_t i = 0; i < m_columns.size(); ++i) {
    m_indexByName.emplace(m_columns[i].name, static_cast<int>(i));
  }
}

void COdbcRecordset::Bind() {
  SQLHSTMT stmt = Statement();
  auto set = [&](SQLINTEGER attribute, SQLPOINTER value) {
    Check(SQLSetStmtAttr(stmt, attribute, value, 0), SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr",
          m_state->m_texts);
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
          SQL_HANDLE_STMT, stmt, "SQLBindCol", m_state->m_texts);
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
  Check(rc, SQL_HANDLE_STMT, Statement(), "SQLFetch", m_state->m_texts);
  for (SQLULEN row = 0; row < m_rowsFetched; ++row) {
    if (m_rowStatus[row] == SQL_ROW_ERROR) {
      ThrowOdbcError(SQL_HANDLE_STMT, Statement(), rc, "SQLFetch", m_state->m_texts);
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
  std::fill(m_loaded.begin(), m_loaded.end(), uint8_t{0});
  for (size_t i = 0; i < m_columns.size(); ++i) {
    if (!NeedsGetData(i, row)) continue;
    m_current[i] = LoadValue(i, row);
    m_loaded[i] = 1;
  }
}

bool COdbcRecordset::NeedsGetData(size_t index, SQLULEN row) const {
  const CColumn& column = m_columns[index];
  if (!column.bound) return true;
  if (!column.varLength) return false;
  const SQLLEN indicator = m_indicators[index * m_rowsetSize + row];
  const SQLLEN room = column.elementBytes - (column.cType == SQL_C_CHAR ? 1 : 0);
  return indicator == SQL_NO_TOTAL || indicator > room;
}

CValue COdbcRecordset::LoadValue(size_t index, SQLULEN row) {
  const CColumn& column = m_columns[index];
  if (!NeedsGetData(index, row)) return ValueFromBuffer(index, row);
  if (column.varLength) {
    if (m_rowsetSize != 1) {
      // Sizes from this server are trusted for block fetches; a longer
      // value would otherwise be cut without a word.
      throw CExportError(
          codes::kFail, "ODBC",
          fmt::format("The value of field {} is longer than its declared size", column.name));
    }
    if (!ReadWhole(index, m_whole)) return CValue();
    if (column.cType == SQL_C_BINARY) {
      return CValue::FromBinary(std::vector<uint8_t>(m_whole.begin(), m_whole.end()));
    }
    if (m_state->m_typeByValue) return ValueFromSqliteText(column.kind, m_whole);
    return CValue::FromText(m_whole);
  }
  // An unbound column means a rowset of one row: its value is read into the
  // place of the first row, as if it were bound.
  char* slot = reinterpret_cast<char*>(m_buffer.get()) + column.offset;
  Check(SQLGetData(Statement(), static_cast<SQLUSMALLINT>(index + 1), column.cType, slot,
                   column.elementBytes, &m_indicators[index * m_rowsetSize]),
        SQL_HANDLE_STMT, Statement(), "SQLGetData", m_state->m_texts);
  return ValueFromBuffer(index, 0);
}

CValue COdbcRecordset::ValueFromBuffer(size_t index, SQLULEN row) const {
  const CColumn& column = m_columns[index];
  const char* data = reinterpret_cast<const char*>(m_buffer.get()) + column.offset +
                     row * static_cast<size_t>(column.elementBytes);
  const SQLLEN indicator = m_indicators[index * m_rowsetSize + row];
  if (indicator == SQL_NULL_DATA) return CValue();
  if (column.varLength) {
    const std::string_view bytes(data, static_cast<size_t>(indicator));
    if (column.cType == SQL_C_BINARY) {
      return CValue::FromBinary(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    if (m_state->m_typeByValue) return ValueFromSqliteText(column.kind, bytes);
    return CValue::FromText(std::string(bytes));
  }
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
    Check(rc, SQL_HANDLE_STMT, Statement(), "SQLGetData", m_state->m_texts);
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

void COdbcRecordset::CheckCurrent(int index) const {
  if (m_eof) ThrowNoCurrentRow();
  if (index < 0 || static_cast<size_t>(index) >= m_current.size()) ThrowFieldNotFound();
}

const CValue& COdbcRecordset::FieldValue(int index) const {
  CheckCurrent(index);
  const auto i = static_cast<size_t>(index);
  if (!m_loaded[i]) {
    m_current[i] = ValueFromBuffer(i, m_rowInBlock);
    m_loaded[i] = 1;
  }
  return m_current[i];
}

CValue COdbcRecordset::FieldValueCopy(int index) const {
  CheckCurrent(index);
  const auto i = static_cast<size_t>(index);
  return m_loaded[i] ? m_current[i] : ValueFromBuffer(i, m_rowInBlock);
}

std::optional<int32_t> COdbcRecordset::FieldInt32(int index) const {
  CheckCurrent(index);
  const auto i = static_cast<size_t>(index);
  const CColumn& column = m_columns[i];
  if (!m_loaded[i]) {
    const char* data = reinterpret_cast<const char*>(m_buffer.get()) + column.offset +
                       m_rowInBlock * static_cast<size_t>(column.elementBytes);
    const SQLLEN indicator = m_indicators[i * m_rowsetSize + m_rowInBlock];
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    if (column.cType == SQL_C_SLONG) return Load<SQLINTEGER>(data);
    if (column.cType == SQL_C_SSHORT) return Load<SQLSMALLINT>(data);
    // A SQLite integer text read where its value would be an integer or a
    // double of the same number; anything else goes the way of the value.
    const bool numberKind = column.kind == CKind::Int16 || column.kind == CKind::Int32 ||
                            column.kind == CKind::Int64 || column.kind == CKind::Double ||
                            column.kind == CKind::Untyped;
    if (m_state->m_typeByValue && column.cType == SQL_C_CHAR && numberKind) {
      const auto value = ParseSqliteInteger(std::string_view(data, static_cast<size_t>(indicator)));
      if (value && *value >= INT32_MIN && *value <= INT32_MAX) return static_cast<int32_t>(*value);
    }
  }
  return CSourceRecordset::FieldInt32(index);
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

}  // namespace zx
