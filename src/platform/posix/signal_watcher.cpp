#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/interruption.hpp"
#include "platform/unique_fd.hpp"

namespace zx {
namespace {

constexpr int kWatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> g_signalPipe{-1};  // write end, for the handler

void OnSignal(int signal) {
  const int savedErrno = errno;
  const int fd = g_signalPipe.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

struct CSignalWatcher::Impl {
  CUniqueFd readEnd;
  CUniqueFd writeEnd;
  struct sigaction previous[std::size(kWatchedSignals)] = {};
  std::thread watcher;
};

CSignalWatcher::CSignalWatcher() : m_impl(std::make_unique<Impl>()) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;  // then signals keep their default action
  m_impl->readEnd.Reset(fds[0]);
  m_impl->writeEnd.Reset(fds[1]);
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);  // a full pipe drops a repeated signal, never blocks
  g_signalPipe.store(fds[1]);
  m_impl->watcher = std::thread([readEnd = fds[0]] {
    for (;;) {
      unsigned char byte = 0;
      const ssize_t n = ::read(readEnd, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || byte == 0) return;  // 0: the watcher is asked to end
      RequestInterruption(byte);
    }
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kWatchedSignals); ++i) {
    ::sigaction(kWatchedSignals[i], &action, &m_impl->previous[i]);
  }
}

CSignalWatcher::~CSignalWatcher() {
  if (m_impl->watcher.joinable()) {
    for (size_t i = 0; i < std::size(kWatchedSignals); ++i) {
      ::sigaction(kWatchedSignals[i], &m_impl->previous[i], nullptr);
    }
    g_signalPipe.store(-1);
    const unsigned char stop = 0;
    [[maybe_unused]] const ssize_t written = ::write(m_impl->writeEnd.Get(), &stop, 1);
    m_impl->watcher.join();
  }
}

void IgnoreWriteSignals() noexcept {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

int InterruptionExitStatus() noexcept { return 128 + InterruptionSignal(); }

}  // namespace zx
