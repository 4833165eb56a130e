#pragma once
// The source database as the export sees it: a connection that runs
// forward-only, read-only queries. The ODBC implementation lives in
// odbc/odbc_source.cpp; tests may substitute fakes.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dates.hpp"
#include "platform/value.hpp"

namespace zx {

enum class SqlDialect { SqlServer, Sqlite, Other };

// One forward-only, read-only result, positioned on its first row after
// Execute. Rows are fetched from the driver in blocks; the accessors read the
// current row. Thread: one thread at a time.
class CSourceRecordset {
 public:
  virtual ~CSourceRecordset() = default;
  virtual bool IsEOF() const = 0;
  // REQUIRES: !IsEOF(). Driver failures throw CExportError(codes::kFail).
  virtual void MoveNext() = 0;
  virtual int FieldCount() const = 0;
  // REQUIRES: 0 <= index < FieldCount().
  virtual const std::string& FieldName(int index) const = 0;
  // REQUIRES: !IsEOF(), 0 <= index < FieldCount(). The reference stays valid
  // until the next MoveNext or Close.
  virtual const CValue& FieldValue(int index) const = 0;
  // The same value as FieldValue(index), as a value of its own: no copy of a
  // text that nothing has read yet. REQUIRES as FieldValue.
  virtual CValue FieldValueCopy(int index) const { return FieldValue(index); }
  // FieldValue(index).ToInt32(), nullopt for NULL, with the same errors;
  // without a value made on the way where the field holds a plain integer.
  virtual std::optional<int32_t> FieldInt32(int index) const;
  // Position of the first field of that name (exact, case-sensitive), or -1.
  virtual int FieldIndex(std::string_view name) const = 0;
  // Ends the statement; idempotent. Afterwards IsEOF() is true; FieldCount,
  // FieldName and FieldIndex still answer.
  virtual void Close() = 0;

  // By name; an unknown name throws CExportError codes::kMissingField
  // (ADO's "Item cannot be found in the collection").
  const CValue& FieldValue(std::string_view name) const;
};

// The errors of a recordset, with ADO's texts so that reports read as they
// always have: a field asked for by an unknown name or position
// (codes::kMissingField), a move or read with no current row (3021).
[[noreturn]] void ThrowFieldNotFound();
[[noreturn]] void ThrowNoCurrentRow();

// A source connection. Only one result is open at a time (SQL Server
// through FreeTDS allows one active statement): Execute closes the previous
// recordset of the connection if it is still open. A recordset may outlive
// its connection object; the driver connection ends with the last of them.
class CSourceConnection {
 public:
  virtual ~CSourceConnection() = default;
  // Runs `sql` (unchanged) with the connection's query timeout. Driver
  // failures (syntax, missing table, ...) throw CExportError(codes::kFail).
  virtual std::unique_ptr<CSourceRecordset> Execute(const std::string& sql) = 0;
  virtual SqlDialect Dialect() const = 0;

  // The first field of the first row of `sql`; NULL when there is no row.
  CValue QueryScalar(const std::string& sql);
  // The SQL literal for midnight of `date` in this server's dialect:
  // CONVERT(DATETIME, 'dd/mm/yyyy', 103) on SQL Server (and unknown
  // servers), '2014-12-31 00:00:00' on SQLite.
  std::string DateBound(const CCalendarDate& date) const;
};

// Connects through unixODBC on `connectString` as written, ended with ';'
// (and NoCreat=1 for SQLite, connect_checks.hpp); its texts reach the driver
// intact, wide or narrow as it takes them (odbc_text.hpp). Every statement
// gets `queryTimeoutSeconds`. Failures throw
// CExportError(codes::kFail, driver component text, "[SQLSTATE] message").
//
// Values keep the source's types: SMALLINT and TINYINT Int16, INTEGER Int32,
// BIGINT Int64, BIT Bool, REAL/FLOAT/DOUBLE/DECIMAL/NUMERIC Double, texts and
// GUIDs Text (UTF-8), DATE/TIMESTAMP DateTime, binaries Binary. SQLite
// sources are typed by value where their declared types cannot be trusted;
// docs/source_database.md gives the rules.
std::unique_ptr<CSourceConnection> ConnectOdbc(const std::string& connectString,
                                               int queryTimeoutSeconds);
// Every connection of an export waits this long for a statement.
inline constexpr int kSourceQueryTimeoutSeconds = 300;

struct COdbcOptions {
  int queryTimeoutSeconds = kSourceQueryTimeoutSeconds;
  // Reads every source in the driver's declared types and sizes, as SQL
  // Server is read, SQLite included (tests and benchmarks of that path).
  bool declaredTypes = false;
  // Reads long values only from unbound columns, as drivers that cannot
  // complete a bound column with SQLGetData require (tests of that path).
  bool unboundLongValues = false;
};
std::unique_ptr<CSourceConnection> ConnectOdbc(const std::string& connectString,
                                               const COdbcOptions& options);

}  // namespace zx
