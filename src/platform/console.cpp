#include "platform/console.hpp"

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace zx {

void ConsolePause() {
  std::fputs("Press any key to continue . . . ", stdout);
  std::fflush(stdout);
  char key = 0;
  if (::isatty(STDIN_FILENO)) {
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios raw = saved;
      raw.c_lflag &= ~(ICANON | ECHO);
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
      [[maybe_unused]] ssize_t n = ::read(STDIN_FILENO, &key, 1);
      ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
      std::fputs("\n", stdout);
      std::fflush(stdout);
      return;
    }
  }
  // Not a terminal: one byte, or nothing at end of input, so scripted runs never hang.
  [[maybe_unused]] ssize_t n = ::read(STDIN_FILENO, &key, 1);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

uint32_t TickCountMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace zx
