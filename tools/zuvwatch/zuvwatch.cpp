// zuvwatch: follows the progress of an export, as a controlling program would.
//
//   zuvwatch --queue NAME [--sizes] [--idle-exit MS] [-- PROGRAM ARGS...]
//   zuvwatch --pipe NAME [--fifo] [-- PROGRAM ARGS...]
//
// --queue creates the message queue NAME (a stale one is removed first) and
// prints each message as it arrives (--sizes: its byte count first). It ends
// when the exporter removes the queue name, when the program it started ends,
// or after MS milliseconds without a message (--idle-exit).
// --pipe listens on the socket CPipeChannel::PathForName(NAME) (--fifo: a
// FIFO at that path) and prints what arrives until the exporter closes it.
// With "-- PROGRAM ARGS...", zuvwatch starts the exporter itself once it
// listens, and exits with its status.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/ipc/message_queue.hpp"
#include "platform/ipc/pipe_channel.hpp"
#include "platform/unique_fd.hpp"
#include "zuvexport_version.hpp"

extern char** environ;

namespace {

constexpr int kPollMs = 100;

struct Arguments {
  std::string queue, pipe;
  bool fifo = false, sizes = false;
  long idleExitMs = -1;
  std::vector<std::string> command;
};

[[noreturn]] void Usage(const char* message) {
  std::fprintf(stderr,
               "zuvwatch: %s\n"
               "usage: zuvwatch --queue NAME [--sizes] [--idle-exit MS] [-- PROGRAM ARGS...]\n"
               "       zuvwatch --pipe NAME [--fifo] [-- PROGRAM ARGS...]\n",
               message);
  std::exit(2);
}

Arguments Parse(int argc, char* argv[]) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) Usage(("missing value after " + arg).c_str());
      return argv[++i];
    };
    if (arg == "--queue") {
      args.queue = next();
    } else if (arg == "--pipe") {
      args.pipe = next();
    } else if (arg == "--fifo") {
      args.fifo = true;
    } else if (arg == "--sizes") {
      args.sizes = true;
    } else if (arg == "--idle-exit") {
      args.idleExitMs = std::strtol(next().c_str(), nullptr, 10);
    } else if (arg == "--") {
      args.command.assign(argv + i + 1, argv + argc);
      break;
    } else {
      Usage(("unknown argument " + arg).c_str());
    }
  }
  if (args.queue.empty() == args.pipe.empty()) Usage("give one of --queue or --pipe");
  return args;
}

class Child {
 public:
  explicit Child(const std::vector<std::string>& command) {
    if (command.empty()) return;
    std::vector<char*> argv;
    for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
      std::fprintf(stderr, "zuvwatch: cannot start %s\n", argv[0]);
      m_pid = -1;
      m_status = 127;
    }
  }
  bool Exists() const { return m_pid > 0 || m_status >= 0; }
  // True once the child has ended (or there is none).
  bool Ended() {
    if (m_pid <= 0) return true;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
    Record(status);
    return true;
  }
  int Wait() {
    if (m_pid > 0) {
      int status = 0;
      while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
      }
      Record(status);
    }
    return m_status < 0 ? 0 : m_status;
  }

 private:
  void Record(int status) {
    m_pid = -1;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t m_pid = -1;
  int m_status = -1;
};

void Print(const char* data, size_t size) {
  std::fwrite(data, 1, size, stdout);
  std::fflush(stdout);
}

int WatchQueue(const Arguments& args) {
  // Our limits: 4096-byte messages hold every report of the exporter.
  auto queue = zx::CMessageQueue::Create(args.queue, 100, 4096);
  Child child(args.command);
  std::string message;
  auto idleSince = std::chrono::steady_clock::now();
  auto show = [&]() {
    if (args.sizes) std::printf("%zu ", message.size());
    Print(message.data(), message.size());
  };
  for (;;) {
    if (queue->Receive(message, kPollMs)) {
      show();
      idleSince = std::chrono::steady_clock::now();
      continue;
    }
    // The exporter removes the name when it ends; what it sent stays
    // readable through our own view of the queue.
    const bool senderDone =
        (child.Exists() && child.Ended()) || !zx::CMessageQueue::Exists(args.queue);
    const bool idle = args.idleExitMs >= 0 && std::chrono::steady_clock::now() - idleSince >=
                                                  std::chrono::milliseconds(args.idleExitMs);
    if (senderDone || idle) break;
  }
  while (queue->Receive(message, 0)) show();
  zx::CMessageQueue::Remove(args.queue);
  return child.Wait();
}

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

}  // namespace

int main(int argc, char* argv[]) {
  if (zx::PrintVersionIfAsked(argc, argv, "zuvwatch")) return 0;
  signal(SIGPIPE, SIG_IGN);
  const Arguments args = Parse(argc, argv);
  try {
    return args.queue.empty() ? WatchPipe(args) : WatchQueue(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zuvwatch: %s\n", e.what());
    return 2;
  }
}
