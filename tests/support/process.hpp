#pragma once
// Runs a program as a child process for end-to-end tests: arguments, optional
// standard input, extra environment, captured output and a safety limit.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zx::test {

struct CProcessOptions {
  // Written to the child's standard input, which is then closed. nullopt:
  // standard input is /dev/null (at its end at once).
  std::optional<std::string> input;
  // When >= 0, the child's standard input instead (the caller keeps its own
  // copy). A terminal becomes the controlling terminal of the child, which
  // leads a session of its own, so it runs in the terminal's foreground.
  int inputFd = -1;
  // When set, the child's standard output instead of a captured pipe
  // (CProcessResult::out stays empty); -1 starts the child with it closed.
  std::optional<int> outputFd;
  // Extra variables, set over the inherited environment.
  std::vector<std::pair<std::string, std::string>> environment;
  std::string workingDirectory;  // empty: the caller's
  // A hung child is killed after this long, so that a fault fails a test
  // instead of hanging the suite. Not a timing assertion.
  int limitMs = 120000;
};

struct CProcessResult {
  int exitCode = -1;  // the exit status, or -1 when a signal ended the child
  int signal = 0;     // the signal that ended it, 0 when it exited
  bool killedAtLimit = false;
  std::string out;
  std::string err;
};

// A child started in the background; Wait() collects its output.
class CChildProcess {
 public:
  CChildProcess(const std::string& program, const std::vector<std::string>& args,
                const CProcessOptions& options = {});
  ~CChildProcess();  // kills and reaps a child that was not waited for
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  // Feeds the input, reads both outputs to their end and reaps the child.
  CProcessResult Wait();

 private:
  pid_t m_pid = -1;
  void* m_process = nullptr;  // Windows: the process handle
  int m_in = -1, m_out = -1, m_err = -1;
  std::optional<std::string> m_input;
  int m_limitMs;
};

CProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const CProcessOptions& options = {});

// Polls `ready` (every 10 ms, up to `limitMs`) for a condition another process
// brings about; true once it holds.
bool WaitUntil(const std::function<bool()>& ready, int limitMs = 20000);

// This test process's id.
int OwnProcessId();

// A name no other test run uses at the same time (pid and a counter).
std::string UniqueName(const std::string& prefix);

}  // namespace zx::test
