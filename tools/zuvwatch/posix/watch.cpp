#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../watch.hpp"
#include "platform/ipc/pipe_channel.hpp"
#include "platform/unique_fd.hpp"

extern char** environ;

namespace zuvwatch {

struct Child::Impl {
  pid_t pid = -1;
  int status = -1;

  void Record(int waited) {
    pid = -1;
    status = WIFEXITED(waited) ? WEXITSTATUS(waited) : 128 + WTERMSIG(waited);
  }
};

Child::Child(const std::vector<std::string>& command) : m_impl(std::make_unique<Impl>()) {
  if (command.empty()) return;
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  if (posix_spawnp(&m_impl->pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "zuvwatch: cannot start %s\n", argv[0]);
    m_impl->pid = -1;
    m_impl->status = 127;
  }
}

Child::~Child() = default;

bool Child::Exists() const { return m_impl->pid > 0 || m_impl->status >= 0; }

bool Child::Ended() {
  if (m_impl->pid <= 0) return true;
  int status = 0;
  if (waitpid(m_impl->pid, &status, WNOHANG) != m_impl->pid) return false;
  m_impl->Record(status);
  return true;
}

int Child::Wait() {
  if (m_impl->pid > 0) {
    int status = 0;
    while (waitpid(m_impl->pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_impl->Record(status);
  }
  return m_impl->status < 0 ? 0 : m_impl->status;
}

void PrepareOutput() {}

namespace {

// Creates the listening end under a temporary name and moves it into place,
// so that the path appears only once a writer can connect.
int ListenSocket(const std::string& path) {
  const std::string temporary = path + ".zuvwatch-" + std::to_string(getpid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (temporary.size() >= sizeof address.sun_path) Usage("pipe path too long for a socket");
  std::memcpy(address.sun_path, temporary.c_str(), temporary.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  unlink(temporary.c_str());
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 1) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    std::perror("zuvwatch: listen");
    std::exit(2);
  }
  return fd;
}

int OpenFifo(const std::string& path) {
  const std::string temporary = path + ".zuvwatch-" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (mkfifo(temporary.c_str(), 0600) != 0) {
    std::perror("zuvwatch: mkfifo");
    std::exit(2);
  }
  // Opened for reading before it gets its name, so a writer never finds it
  // without a reader.
  int fd = open(temporary.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    std::perror("zuvwatch: fifo");
    std::exit(2);
  }
  return fd;
}

// Waits for `fd` to become readable; false when the child ended first.
bool WaitReadable(int fd, Child& child) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kPollMs) > 0) return true;
    if (child.Exists() && child.Ended()) return false;
  }
}

}  // namespace

int WatchPipe(const Arguments& args) {
  const std::string path = zx::CPipeChannel::PathForName(args.pipe);
  zx::CUniqueFd listener(args.fifo ? OpenFifo(path) : ListenSocket(path));
  Child child(args.command);
  zx::CUniqueFd accepted;
  int peer = -1;
  if (args.fifo) {
    peer = listener.Get();
  } else if (WaitReadable(listener.Get(), child)) {
    accepted.Reset(accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    peer = accepted.Get();
  }
  if (peer >= 0) {
    char buffer[4096];
    for (;;) {
      WaitReadable(peer, child);
      ssize_t n = read(peer, buffer, sizeof buffer);
      if (n > 0) {
        Print(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EAGAIN) {
        break;  // the exporter closed its end
      }
    }
  }
  // Closed before the name goes and before waiting for the program.
  accepted.Reset();
  listener.Reset();
  unlink(path.c_str());
  return child.Wait();
}

}  // namespace zuvwatch
