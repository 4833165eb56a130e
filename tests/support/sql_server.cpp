#include "support/sql_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/odbc/source.hpp"
#include "support/process.hpp"

namespace zx::test {
namespace {

constexpr int kStartLimitMs = 20000;

const char* RealServer() {
  const char* value = std::getenv("ZUVEXPORT_TEST_MSSQL");
  return value && *value ? value : nullptr;
}

// The first line the stand-in writes (its port), waiting at most `limitMs`.
std::string ReadLine(int fd, int limitMs) {
  std::string line;
  char c = 0;
  while (line.empty() || line.back() != '\n') {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, limitMs) <= 0 || read(fd, &c, 1) != 1) return "";
    line += c;
  }
  line.pop_back();
  return line;
}

}  // namespace

bool CSqlServer::IsReal() { return RealServer() != nullptr; }

CSqlServer::CSqlServer(const std::string& sqliteFile, const std::vector<std::string>& switches) {
  if (const char* real = RealServer()) {
    m_connect = real;
    return;
  }
  std::vector<std::string> argStore{"python3",  TDS_STANDIN_PY, "--db",   sqliteFile,   "--user",
                                    "exporter", "--password",   "secret", "--database", "Panel"};
  argStore.insert(argStore.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe2 failed");
  m_pid = fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    // Not the test's open connections: a dropped one must really close.
    close_range(3, ~0U, 0);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  m_stdin = in[1];
  const std::string port = ReadLine(out[0], kStartLimitMs);
  close(out[0]);
  if (port.empty()) {
    close(m_stdin);
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    throw std::runtime_error("the TDS stand-in did not start");
  }
  m_port = port;
  m_connect = "Driver=FreeTDS;Server=127.0.0.1;Port=" + port +
              ";Database=Panel;UID=exporter;PWD=secret;TDS_Version=7.4;ClientCharset=UTF-8";
}

CSqlServer::~CSqlServer() {
  if (m_pid <= 0) return;
  // The stand-in ends when its standard input closes.
  close(m_stdin);
  int status = 0;
  if (!WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, 5000)) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
  }
  m_pid = -1;
}

void CSqlServer::RunScript(const std::string& path) const {
  std::ifstream in(path);
  if (!in) throw std::runtime_error(path + ": cannot read the script");
  auto connection = ConnectOdbc(m_connect, 300);
  std::string batch, line;
  while (std::getline(in, line)) {
    if (line == "GO") {
      connection->Execute(batch);
      batch.clear();
    } else {
      batch += line + "\n";
    }
  }
  if (batch.find_first_not_of(" \n") != std::string::npos) connection->Execute(batch);
}

}  // namespace zx::test
