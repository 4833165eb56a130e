// The TDS stand-in is a Python program on the host; a Windows test process
// does not start it. The SQL Server runs are left to the Linux suite
// (scripts/windows.sh filters them out, docs/windows.md).
#include <stdexcept>

#include "support/sql_server.hpp"

namespace zx::test {

CSqlServer::CSqlServer(const std::string&, const std::vector<std::string>&) {
  throw std::runtime_error("the SQL Server stand-in runs with the Linux suite only");
}
CSqlServer::~CSqlServer() = default;
bool CSqlServer::IsReal() { return false; }
void CSqlServer::RunScript(const std::string&) const {}

}  // namespace zx::test
