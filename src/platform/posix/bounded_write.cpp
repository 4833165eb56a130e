#include "platform/ipc/bounded_write.hpp"

#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace zx {
namespace {

using Clock = std::chrono::steady_clock;

// A write to a pipe whose reader is gone raises SIGPIPE even when the
// process ignores it later; blocking it for the call turns it into EPIPE,
// and the one it left pending is taken back so that nobody sees it.
class CSigpipeGuard {
 public:
  CSigpipeGuard() {
    sigemptyset(&m_pipeSet);
    sigaddset(&m_pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &m_pipeSet, &m_oldSet);
    sigset_t pending;
    sigpending(&pending);
    m_wasPending = sigismember(&pending, SIGPIPE) == 1;
  }
  ~CSigpipeGuard() {
    if (m_raised && !m_wasPending) {
      const timespec zero{0, 0};
      while (sigtimedwait(&m_pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &m_oldSet, nullptr);
  }
  CSigpipeGuard(const CSigpipeGuard&) = delete;
  CSigpipeGuard& operator=(const CSigpipeGuard&) = delete;

  void NoteRaised() { m_raised = true; }

 private:
  sigset_t m_pipeSet, m_oldSet;
  bool m_wasPending = false;
  bool m_raised = false;
};

bool IsSocket(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

CWriteResult WriteBounded(int fd, const void* data, size_t size, int stallLimitMs) {
  CWriteResult result;
  const bool socket = IsSocket(fd);
  CSigpipeGuard guard;
  const char* bytes = static_cast<const char*>(data);
  auto deadline = Clock::now() + std::chrono::milliseconds(stallLimitMs);
  while (result.written < size) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{fd, POLLOUT, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::max<long long>(left, 0)));
    if (polled < 0) {
      if (errno == EINTR) continue;
      result.outcome = WriteOutcome::kFailed;
      result.error = errno;
      return result;
    }
    if (polled == 0) {
      result.outcome = WriteOutcome::kStalled;
      return result;
    }
    if (ready.revents & POLLNVAL) {
      result.outcome = WriteOutcome::kFailed;
      result.error = EBADF;
      return result;
    }
    // POLLERR and POLLHUP fall through: the write itself says what is wrong.
    const size_t piece = std::min<size_t>(size - result.written, PIPE_BUF);
    const ssize_t n = socket ? send(fd, bytes + result.written, piece, MSG_NOSIGNAL | MSG_DONTWAIT)
                             : write(fd, bytes + result.written, piece);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      if (errno == EPIPE && !socket) guard.NoteRaised();
      result.outcome = WriteOutcome::kFailed;
      result.error = errno;
      return result;
    }
    result.written += static_cast<size_t>(n);
    if (n > 0) deadline = Clock::now() + std::chrono::milliseconds(stallLimitMs);
  }
  return result;
}

}  // namespace zx
