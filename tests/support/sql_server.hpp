#pragma once
// The SQL Server of the SQL Server runs, reached through the FreeTDS ODBC
// driver: the TDS stand-in (tds_standin.py) serving a SQLite file, or a real
// server when ZUVEXPORT_TEST_MSSQL holds its ODBC connection string.
#include <sys/types.h>

#include <string>
#include <vector>

namespace zx::test {

class CSqlServer {
 public:
  // Starts a stand-in serving `sqliteFile` (created when absent) with its
  // switches; on a real server `sqliteFile` and `switches` are unused. The
  // stand-in accepts only the login of ConnectString() unless `switches`
  // name another (--user, --password, --database).
  // Throws std::runtime_error when the stand-in does not come up in time.
  explicit CSqlServer(const std::string& sqliteFile, const std::vector<std::string>& switches = {});
  ~CSqlServer();  // stops the stand-in (bounded wait, then killed)
  CSqlServer(const CSqlServer&) = delete;
  CSqlServer& operator=(const CSqlServer&) = delete;

  // True when the tests run against the real server: fault switches do not exist there.
  static bool IsReal();
  const std::string& ConnectString() const { return m_connect; }
  // The stand-in's TCP port.
  const std::string& Port() const { return m_port; }
  // Runs a T-SQL script through ODBC batch by batch, batches ending at "GO" lines.
  void RunScript(const std::string& path) const;

 private:
  pid_t m_pid = -1;
  int m_stdin = -1;
  std::string m_connect;
  std::string m_port;
};

}  // namespace zx::test
