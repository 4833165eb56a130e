#pragma once
// What a connection string points at, read before connecting: the checks a
// driver would not make itself, and the database's name for messages (never
// the password or the rest of the string).
#include <optional>
#include <string>
#include <string_view>

namespace zx {

// The value of attribute `key` (case-insensitive) in an ODBC connection
// string "KEY=value;KEY={value; with braces}}}"; nullopt when absent.
std::optional<std::string> ConnectAttribute(std::string_view connectString, std::string_view key);

// The database as a message names it: "'DB' on server 'HOST'", "'PATH'",
// "data source 'DSN'", or "(unnamed)".
std::string DatabaseNameForMessages(std::string_view connectString);

// True when the Driver attribute names SQLite.
bool NamesSqliteDriver(std::string_view connectString);

// The string ending in ';': FreeTDS reads a braced value that ends the
// string with its closing brace.
std::string TerminatedConnectString(const std::string& connectString);

// For the SQLite driver (its Driver attribute names SQLite): throws
// CExportError(codes::kFileNotFound) naming the file when it does not
// exist, and returns the string with NoCreat=1 added unless it sets NoCreat
// itself, so the driver never creates an empty database in its place. Other
// strings come back unchanged.
std::string CheckSqliteDatabase(const std::string& connectString);

}  // namespace zx
