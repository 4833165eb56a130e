#pragma once
// What the SQL Server clients of this OS offer the translation of ADO / OLE
// DB strings.
namespace zx {

enum class SqlServerOdbcDriver;

// The driver a translated string names when neither of Microsoft's ODBC
// Drivers 18 and 17 is registered: FreeTDS on POSIX systems, Windows' own
// "SQL Server" driver on Windows.
SqlServerOdbcDriver FallbackSqlServerDriver();
// Whether Windows integrated security (Integrated Security=SSPI,
// Trusted_Connection=Yes) can be honoured: on Windows only.
bool IntegratedSecurityAvailable();

}  // namespace zx
