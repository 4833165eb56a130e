#include "platform/odbc/sql_server_platform.hpp"

#include "platform/odbc/connection_string.hpp"

namespace zx {

SqlServerOdbcDriver FallbackSqlServerDriver() { return SqlServerOdbcDriver::FreeTds; }
bool IntegratedSecurityAvailable() { return false; }

}  // namespace zx
