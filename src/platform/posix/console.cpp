#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console.hpp"
#include "platform/console_impl.hpp"
#include "platform/error.hpp"

namespace zx {
namespace {

// A background job reading its terminal would be stopped (SIGTTIN), and a
// pipe or file has nobody to press a key.
bool PersonCanAnswer() {
  return ::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
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

std::vector<std::string> ProgramArguments(int argc, char* argv[]) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace zx
