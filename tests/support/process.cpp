#include "support/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zx::test {
namespace {

void MakePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

CChildProcess::CChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const CProcessOptions& options)
    : m_input(options.input), m_limitMs(options.limitMs) {
  // Everything the child needs is built before fork: only exec-safe calls after.
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    bool replaced = false;
    for (auto& [name, value] : options.environment) {
      if (entry.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
    }
    if (!replaced) envStore.push_back(entry);
  }
  for (auto& [name, value] : options.environment) envStore.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int in[2], out[2] = {-1, -1}, err[2];
  if (!options.outputFd) MakePipe(out);
  MakePipe(err);
  const int inputFd = options.inputFd;
  const int outputFd = options.outputFd.value_or(-1);
  const bool captureOutput = !options.outputFd;
  if (inputFd >= 0) {
    in[0] = -1;
    in[1] = -1;
  } else if (m_input) {
    MakePipe(in);
  } else {
    in[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
    in[1] = -1;
  }
  const char* dir = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

  m_pid = fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    if (inputFd >= 0) {
      dup2(inputFd, 0);
      if (isatty(0)) {
        setsid();
        ioctl(0, TIOCSCTTY, 0);
      }
    } else {
      dup2(in[0], 0);
    }
    if (captureOutput) {
      dup2(out[1], 1);
    } else if (outputFd >= 0) {
      dup2(outputFd, 1);
    } else {
      close(1);
    }
    dup2(err[1], 2);
    if (dir && chdir(dir) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (in[0] >= 0) close(in[0]);
  if (out[1] >= 0) close(out[1]);
  close(err[1]);
  m_in = in[1];
  m_out = out[0];
  m_err = err[0];
}

CChildProcess::~CChildProcess() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  CloseFd(m_in);
  CloseFd(m_out);
  CloseFd(m_err);
}

CProcessResult CChildProcess::Wait() {
  CProcessResult result;
  if (m_pid <= 0) return result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_limitMs);
  size_t written = 0;
  if (m_in >= 0) fcntl(m_in, F_SETFL, O_NONBLOCK);
  if (m_in >= 0 && (!m_input || m_input->empty())) CloseFd(m_in);

  while (m_out >= 0 || m_err >= 0) {
    pollfd fds[3];
    int count = 0;
    if (m_out >= 0) fds[count++] = {m_out, POLLIN, 0};
    if (m_err >= 0) fds[count++] = {m_err, POLLIN, 0};
    if (m_in >= 0) fds[count++] = {m_in, POLLOUT, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      kill(m_pid, SIGKILL);
      result.killedAtLimit = true;
      break;
    }
    int ready = poll(fds, count, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < count && ready > 0; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == m_in) {
        ssize_t n = write(m_in, m_input->data() + written, m_input->size() - written);
        if (n > 0) written += static_cast<size_t>(n);
        if (n < 0 && errno != EAGAIN) written = m_input->size();
        if (written == m_input->size()) CloseFd(m_in);
        continue;
      }
      char buffer[8192];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (fds[i].fd == m_out ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        CloseFd(fds[i].fd == m_out ? m_out : m_err);
      }
    }
  }
  CloseFd(m_in);
  CloseFd(m_out);
  CloseFd(m_err);

  int status = 0;
  while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

int OwnProcessId() { return static_cast<int>(getpid()); }

}  // namespace zx::test
