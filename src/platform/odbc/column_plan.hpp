#pragma once
// The column plan of a result: how each column is read (C type, bound buffer
// size, completion with SQLGetData) and how many rows one SQLFetch brings.
// Pure: decided from what the driver described.
#include "platform/odbc/odbc_api.hpp"

#include <cstddef>
#include <string>
#include <vector>

#include "platform/odbc/column_kind.hpp"

namespace zx {

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

bool IsCharType(SQLSMALLINT sqlType);
CKind KindOfSqlType(SQLSMALLINT sqlType);

// The C type and buffer of a described column whose kind is already set
// (`size` as SQLDescribeCol gives it; `typeByValue` for SQLite sources).
void PlanColumn(CColumn& column, SQLSMALLINT sqlType, SQLULEN size, bool typeByValue);

// The rows per fetch, the columns that stay unbound and each column's offset
// in the buffer, for a driver with those SQL_GETDATA_EXTENSIONS. Returns the
// buffer's size in bytes.
size_t PlanRowset(std::vector<CColumn>& columns, SQLUINTEGER getDataExtensions,
                  SQLULEN& rowsetSize);

}  // namespace zx
