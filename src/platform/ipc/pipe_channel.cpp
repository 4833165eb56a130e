#include "platform/ipc/pipe_channel.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/unique_fd.hpp"

namespace zx {
namespace {

void SetBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// A FIFO write raises SIGPIPE when the reader is gone; the signal is blocked
// for the write and a SIGPIPE it caused is consumed before unblocking, so the
// process neither dies nor sees a stray signal.
bool WriteFifo(int fd, const char* data, size_t size) {
  sigset_t pipeSet, oldSet, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;

  bool ok = true;
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  if (!ok && errno == EPIPE && !wasPending) {
    timespec zero{0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
  return ok;
}

bool WriteSocket(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string CPipeChannel::PathForName(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp && *tmp) ? tmp : "/tmp";
  if (dir.back() != '/') dir.push_back('/');
  return dir + "CoreFxPipe_" + name;
}

CPipeChannel::~CPipeChannel() { Close(); }

bool CPipeChannel::Connect(const std::string& path, int busyWaitLimitMs) {
  Close();
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;

  if (S_ISFIFO(info.st_mode)) {
    // Non-blocking, the open fails with ENXIO instead of waiting for a reader.
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    SetBlocking(fd);
    m_fd = fd;
    m_isFifo = true;
    return true;
  }
  if (!S_ISSOCK(info.st_mode)) return false;

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(busyWaitLimitMs);
  for (;;) {
    CUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return false;
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      SetBlocking(fd.Get());
      m_fd = fd.Release();
      m_isFifo = false;
      return true;
    }
    const int error = errno;
    // EAGAIN: the listener's backlog is full, it is busy. Anything else
    // (ECONNREFUSED from a stale socket file included) means nobody listens.
    if (error != EAGAIN || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool CPipeChannel::Send(const void* data, size_t size) {
  if (m_fd < 0) return false;
  const char* bytes = static_cast<const char*>(data);
  const bool ok = m_isFifo ? WriteFifo(m_fd, bytes, size) : WriteSocket(m_fd, bytes, size);
  if (!ok) Close();
  return ok;
}

void CPipeChannel::Close() noexcept {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

}  // namespace zx
