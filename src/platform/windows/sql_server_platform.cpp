#include "platform/odbc/sql_server_platform.hpp"

#include "platform/odbc/connection_string.hpp"

namespace zx {

// Every Windows has it; it speaks an older TDS but logs in the same ways.
SqlServerOdbcDriver FallbackSqlServerDriver() { return SqlServerOdbcDriver::WindowsBuiltIn; }
bool IntegratedSecurityAvailable() { return true; }

}  // namespace zx
