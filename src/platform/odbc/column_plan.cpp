#include "platform/odbc/column_plan.hpp"

#include <algorithm>

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

}  // namespace

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

void PlanColumn(CColumn& column, SQLSMALLINT sqlType, SQLULEN size, bool typeByValue) {
  // SQLite declares sizes it does not enforce and converts silently, so
  // its values are read as text (or bytes) of any length.
  column.cType =
      typeByValue && column.kind != CKind::Binary ? SQL_C_CHAR : NativeCType(column.kind);
  column.varLength = column.cType == SQL_C_CHAR || column.cType == SQL_C_BINARY;
  if (!column.varLength) {
    column.elementBytes = FixedSize(column.cType);
    return;
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

size_t PlanRowset(std::vector<CColumn>& columns, SQLUINTEGER getDataExtensions,
                  SQLULEN& rowsetSize) {
  const bool anyOverflow =
      std::any_of(columns.begin(), columns.end(), [](const CColumn& c) { return c.mayOverflow; });
  const SQLUINTEGER extensions = getDataExtensions;
  if (anyOverflow) {
    // SQLGetData completes a long value, and needs a rowset of one unless the
    // driver supports SQL_GD_BLOCK; few do, and the row-by-row path costs the
    // SQLite driver nothing measurable.
    rowsetSize = 1;
    if (!(extensions & SQL_GD_BOUND) || !(extensions & SQL_GD_ANY_COLUMN)) {
      // Then SQLGetData cannot complete a bound column: long columns stay
      // unbound, and so do all after the first of them unless any column may be.
      bool unbound = false;
      for (CColumn& column : columns) {
        if (column.mayOverflow) unbound = true;
        column.bound = !(column.mayOverflow || (unbound && !(extensions & SQL_GD_ANY_COLUMN)));
      }
    }
  } else {
    size_t rowBytes = 0;
    for (const CColumn& column : columns) {
      rowBytes += static_cast<size_t>(column.elementBytes) + sizeof(SQLLEN);
    }
    rowsetSize = std::clamp<SQLULEN>(kBlockBytes / std::max<size_t>(rowBytes, 1), 1, kMaxBlockRows);
  }

  size_t total = 0;
  for (CColumn& column : columns) {
    column.offset = total;
    total += (static_cast<size_t>(column.elementBytes) * rowsetSize + 7) & ~size_t{7};
  }
  return total;
}

}  // namespace zx
