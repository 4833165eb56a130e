// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/console.hpp"
#include "platform/console_impl.hpp"
#include "platform/error.hpp"
#include "platform/windows/wide.hpp"

namespace zx {
namespace {

// A pipe or file on standard input has nobody to press a key.
HANDLE ConsoleInput() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !::GetConsoleMode(input, &mode)) {
    return nullptr;
  }
  return input;
}

bool IsModifierKey(WORD key) {
  return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_CAPITAL ||
         key == VK_NUMLOCK || key == VK_SCROLL;
}

}  // namespace

void GuardStandardStreams() {
  bool outputClosed = false;
  for (int fd : {0, 1, 2}) {
    if (::_get_osfhandle(fd) >= 0) continue;
    const int null = ::_wopen(L"NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (null >= 0 && null != fd) {
      ::_dup2(null, fd);
      ::_close(null);
    }
    if (fd == 1) outputClosed = true;
  }
  if (outputClosed) GiveUpStandardOutput(SystemErrorText(EBADF));
}

void ConsolePause() {
  WriteStandardOutput("Press any key to continue . . . ");
  if (const HANDLE input = ConsoleInput()) {
    // Keys typed during the export are not the answer.
    ::FlushConsoleInputBuffer(input);
    for (;;) {
      INPUT_RECORD record{};
      DWORD read = 0;
      if (!::ReadConsoleInputW(input, &record, 1, &read) || read == 0) break;
      if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
          !IsModifierKey(record.Event.KeyEvent.wVirtualKeyCode)) {
        break;
      }
    }
  }
  WriteStandardOutput("\n");
}

std::vector<std::string> ProgramArguments(int argc, char* argv[]) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

}  // namespace zx
