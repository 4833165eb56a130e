#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "../watch.hpp"
#include "platform/ipc/pipe_channel.hpp"
#include "platform/windows/wide.hpp"

namespace zuvwatch {
namespace {

// One argument quoted as CommandLineToArgvW and the C runtime read it back:
// backslashes count only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

// Waits for an overlapped operation on `pipe`, a slice at a time, so that a
// child that ended without connecting or closing is noticed. false when it
// failed or the child ended first.
bool WaitFor(HANDLE pipe, OVERLAPPED& overlapped, DWORD& done, Child& child) {
  for (;;) {
    if (::WaitForSingleObject(overlapped.hEvent, kPollMs) == WAIT_OBJECT_0) {
      return ::GetOverlappedResult(pipe, &overlapped, &done, FALSE) != 0;
    }
    if (child.Exists() && child.Ended()) {
      ::CancelIoEx(pipe, &overlapped);
      ::GetOverlappedResult(pipe, &overlapped, &done, TRUE);
      return false;
    }
  }
}

}  // namespace

struct Child::Impl {
  HANDLE process = nullptr;
  int status = -1;

  void Record() {
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    status = static_cast<int>(code);
    ::CloseHandle(process);
    process = nullptr;
  }
};

Child::Child(const std::vector<std::string>& command) : m_impl(std::make_unique<Impl>()) {
  if (command.empty()) return;
  std::wstring line;
  for (const std::string& argument : command) {
    if (!line.empty()) line += L' ';
    AppendQuoted(line, zx::Widen(argument));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started)) {
    std::fprintf(stderr, "zuvwatch: cannot start %s\n", command[0].c_str());
    m_impl->status = 127;
    return;
  }
  ::CloseHandle(started.hThread);
  m_impl->process = started.hProcess;
}

Child::~Child() {
  if (m_impl->process) ::CloseHandle(m_impl->process);
}

bool Child::Exists() const { return m_impl->process != nullptr || m_impl->status >= 0; }

bool Child::Ended() {
  if (m_impl->process == nullptr) return true;
  if (::WaitForSingleObject(m_impl->process, 0) != WAIT_OBJECT_0) return false;
  m_impl->Record();
  return true;
}

int Child::Wait() {
  if (m_impl->process) {
    ::WaitForSingleObject(m_impl->process, INFINITE);
    m_impl->Record();
  }
  return m_impl->status < 0 ? 0 : m_impl->status;
}

void PrepareOutput() { ::_setmode(::_fileno(stdout), _O_BINARY); }

int WatchPipe(const Arguments& args) {
  if (args.fifo) Usage("--fifo is for POSIX systems; Windows has named pipes");
  const std::string path = zx::CPipeChannel::PathForName(args.pipe);
  // One instance, made before the exporter starts, so that its first
  // connection finds the pipe.
  const HANDLE pipe = ::CreateNamedPipeW(
      zx::Widen(path).c_str(),
      PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 64 * 1024,
      0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "zuvwatch: cannot create the pipe %s (error %lu)\n", path.c_str(),
                 ::GetLastError());
    std::exit(2);
  }
  const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Child child(args.command);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD done = 0;
  bool connected = ::ConnectNamedPipe(pipe, &overlapped) != 0;
  if (!connected) {
    const DWORD error = ::GetLastError();
    connected = error == ERROR_PIPE_CONNECTED ||
                (error == ERROR_IO_PENDING && WaitFor(pipe, overlapped, done, child));
  }
  if (connected) {
    char buffer[4096];
    for (;;) {
      ::ResetEvent(event);
      overlapped = OVERLAPPED{};
      overlapped.hEvent = event;
      if (!::ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped) &&
          ::GetLastError() != ERROR_IO_PENDING) {
        break;  // ERROR_BROKEN_PIPE: the exporter closed its end
      }
      if (!WaitFor(pipe, overlapped, done, child) || done == 0) break;
      Print(buffer, done);
    }
  }
  ::CloseHandle(pipe);
  ::CloseHandle(event);
  return child.Wait();
}

}  // namespace zuvwatch
