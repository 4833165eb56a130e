#pragma once
// Connection strings as the programs that start exports write them: ADO /
// OLE DB strings for SQL Server become ODBC strings for a driver that
// unixODBC knows; ODBC strings pass as they are. docs/sql-server.md gives the
// translation table.
#include <string>
#include <string_view>
#include <vector>

namespace zx {

struct ConnectionStringPair {
  std::string key;    // trimmed, "==" read as '=', case kept
  std::string value;  // unquoted; blanks kept only inside quotes or braces
};

// The pairs of `text` by the OLE DB rules: pairs separated by ';', empty pairs
// skipped, keys compared without case, values in double or single quotes
// (the quote doubled inside) or in braces ('}' doubled inside) may hold ';'
// and '='. Every pair is returned in order; the caller decides which
// duplicate counts. Throws std::invalid_argument naming the pair by position,
// never its text (it may be part of a password).
std::vector<ConnectionStringPair> ParseConnectionString(std::string_view text);

// WindowsBuiltIn: Windows' own "SQL Server" driver.
enum class SqlServerOdbcDriver { FreeTds, Microsoft18, Microsoft17, WindowsBuiltIn };

// The ODBC driver name as registered with unixODBC ("FreeTDS", "ODBC Driver
// 18 for SQL Server", ...).
const char* OdbcDriverName(SqlServerOdbcDriver driver);

// The connection string to hand to SQLDriverConnect for `text`:
// - unchanged when it names an ODBC driver or data source (Driver, DSN or
//   FileDSN key) or names no Provider (ADO's default provider is ODBC);
// - translated for `driver` when its Provider is a SQL Server one (SQLOLEDB,
//   SQLNCLI*, MSOLEDBSQL*): initialization-string keys (Data Source, User ID,
//   ...) win over their provider-string counterparts (Server, UID, ...), the
//   last of the same key counts, the result ends with ';'.
// Throws std::invalid_argument, with a message that says what to write
// instead and never holds the password, for any other provider, Windows
// logins (integrated security, DOMAIN\user), and keys or values that cannot
// be honoured here.
std::string ToOdbcConnectionString(std::string_view text, SqlServerOdbcDriver driver);

// Microsoft's ODBC Driver 18 or 17 for SQL Server when the driver manager has
// it registered (18 first), otherwise FreeTDS (Windows: its "SQL Server").
SqlServerOdbcDriver RegisteredSqlServerDriver();

// ToOdbcConnectionString for the registered driver; the driver list is only
// read when `text` needs translating.
std::string ToOdbcConnectionString(std::string_view text);

}  // namespace zx
