#include "platform/ipc/pipe_channel.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/ipc/bounded_write.hpp"
#include "platform/unique_fd.hpp"

namespace zx {
namespace {

void SetBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
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
    CUniqueFd fd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return false;
    SetBlocking(fd.Get());
    m_fd = std::move(fd);
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
      m_fd = std::move(fd);
      return true;
    }
    const int error = errno;
    // EAGAIN: the listener's backlog is full, it is busy. Anything else
    // (ECONNREFUSED from a stale socket file included) means nobody listens.
    if (error != EAGAIN || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool CPipeChannel::Send(const void* data, size_t size, int stallLimitMs) {
  if (!m_fd.Valid()) return false;
  // A reader that stopped taking bytes is given up like one that went away:
  // a message cut in the middle would break its framing anyway.
  const bool ok =
      WriteBounded(m_fd.Get(), data, size, stallLimitMs).outcome == WriteOutcome::kWritten;
  if (!ok) Close();
  return ok;
}

void CPipeChannel::Close() noexcept { m_fd.Reset(); }

}  // namespace zx
