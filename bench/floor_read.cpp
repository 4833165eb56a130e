// The floor an export is measured against: what the ODBC driver delivers
// when nothing but the driver runs. Each query given is read in one pass,
// every column bound (numbers as 64-bit integers or doubles, the rest as
// text), 1,000 rows per SQLFetch. On the ODBC API directly, none of ours.
//
// Usage: floor_read CONNECTION_STRING QUERY...
// Prints "rows values truncated ms" on one line; truncated counts texts
// longer than their bound buffer (cut, as the floor does not complete them).
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr SQLULEN kRows = 1000;
// Long enough for the sample surveys' texts: the count of longer ones is printed.
constexpr SQLLEN kTextBytes = 255;

void Fail(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  SQLCHAR state[6] = {}, message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
  std::fprintf(stderr, "floor_read: %s failed: [%s] %s\n", what, state, message);
  std::exit(1);
}

#define CHECK(call, type, handle)                        \
  do {                                                   \
    if (!SQL_SUCCEEDED(call)) Fail(type, handle, #call); \
  } while (0)

struct Column {
  SQLSMALLINT cType = SQL_C_CHAR;
  SQLLEN bytes = 0;
  std::vector<char> data;
  std::vector<SQLLEN> indicators;
};

SQLSMALLINT CTypeOf(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_BIT:
      return SQL_C_SBIGINT;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return SQL_C_DOUBLE;
    default:
      return SQL_C_CHAR;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: floor_read CONNECTION_STRING QUERY...\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  CHECK(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(argv[1]), SQL_NTS, nullptr, 0,
                         nullptr, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc);

  long long rows = 0, values = 0, truncated = 0;
  double sink = 0;
  for (int q = 2; q < argc; ++q) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    CHECK(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(argv[q]), SQL_NTS), SQL_HANDLE_STMT, stmt);
    SQLSMALLINT count = 0;
    CHECK(SQLNumResultCols(stmt, &count), SQL_HANDLE_STMT, stmt);
    std::vector<Column> columns(static_cast<size_t>(count));
    for (SQLUSMALLINT i = 0; i < static_cast<SQLUSMALLINT>(count); ++i) {
      SQLCHAR name[256];
      SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      CHECK(SQLDescribeCol(stmt, i + 1, name, sizeof name, &nameLength, &sqlType, &size, &digits,
                           &nullable),
            SQL_HANDLE_STMT, stmt);
      Column& column = columns[i];
      column.cType = CTypeOf(sqlType);
      column.bytes = column.cType == SQL_C_CHAR ? kTextBytes + 1 : 8;
      column.data.resize(static_cast<size_t>(column.bytes) * kRows);
      column.indicators.resize(kRows);
    }
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
                   0);
    CHECK(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0),
          SQL_HANDLE_STMT, stmt);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    for (SQLUSMALLINT i = 0; i < static_cast<SQLUSMALLINT>(count); ++i) {
      Column& column = columns[i];
      CHECK(SQLBindCol(stmt, i + 1, column.cType, column.data.data(), column.bytes,
                       column.indicators.data()),
            SQL_HANDLE_STMT, stmt);
    }
    for (;;) {
      const SQLRETURN rc = SQLFetch(stmt);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) Fail(SQL_HANDLE_STMT, stmt, "SQLFetch");
      rows += static_cast<long long>(fetched);
      values += static_cast<long long>(fetched) * count;
      // Touch what was fetched, as any reader would.
      for (const Column& column : columns) {
        for (SQLULEN r = 0; r < fetched; ++r) {
          const SQLLEN indicator = column.indicators[r];
          if (indicator == SQL_NULL_DATA) continue;
          if (column.cType == SQL_C_CHAR) {
            if (indicator >= column.bytes || indicator == SQL_NO_TOTAL) ++truncated;
            sink += static_cast<unsigned char>(column.data[r * column.bytes]);
          } else {
            long long v;
            std::memcpy(&v, &column.data[r * column.bytes], sizeof v);
            sink += static_cast<double>(v & 1);
          }
        }
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  std::printf("%lld %lld %lld %lld\n", rows, values, truncated, static_cast<long long>(ms));
  return sink < 0 ? 1 : 0;
}
