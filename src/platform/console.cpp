#include "platform/console.hpp"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/ipc/bounded_write.hpp"

namespace zx {
namespace {

std::atomic<bool> s_outputLost{false};

// A background job reading its terminal would be stopped (SIGTTIN), and a
// pipe or file has nobody to press a key.
bool PersonCanAnswer() {
  return ::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

void GiveUpStandardOutput(const std::string& reason) {
  if (s_outputLost.exchange(true)) return;
  WriteStandardError(
      fmt::format("Warning: standard output is lost ({}); what follows is not printed\n", reason));
}

}  // namespace

void GuardStandardStreams() {
  bool outputClosed = false;
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
    if (fd == STDOUT_FILENO) outputClosed = true;
  }
  if (outputClosed) GiveUpStandardOutput(SystemErrorText(EBADF));
}

void ConsolePause() {
  WriteStandardOutput("Press any key to continue . . . ");
  if (PersonCanAnswer()) {
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios raw = saved;
      raw.c_lflag &= ~(ICANON | ECHO);
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
      char key = 0;
      // A signal or a hang-up ends the wait as a key does.
      [[maybe_unused]] ssize_t n = ::read(STDIN_FILENO, &key, 1);
      ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
  }
  WriteStandardOutput("\n");
}

bool WriteStandardOutput(std::string_view text) {
  if (s_outputLost.load()) return false;
  const CWriteResult result = WriteBounded(STDOUT_FILENO, text.data(), text.size());
  if (result.outcome == WriteOutcome::kWritten) return true;
  GiveUpStandardOutput(
      result.outcome == WriteOutcome::kStalled
          ? fmt::format("its reader took nothing for {} s", kStalledReaderLimitMs / 1000)
          : SystemErrorText(result.error));
  return false;
}

void WriteStandardError(std::string_view text) {
  WriteBounded(STDERR_FILENO, text.data(), text.size());
}

uint32_t TickCountMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace zx
