// CChildProcess on Windows: CreateProcessW with pipes for the standard handles.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cwctype>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/windows/wide.hpp"
#include "support/process.hpp"

namespace zx::test {
namespace {

// A child must inherit only its own pipe ends: handles are made inheritable
// just for the CreateProcessW call, one child at a time.
std::mutex g_spawnMutex;

// The quoting CommandLineToArgvW and the C runtime undo.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

bool SameNameCaseBlind(const std::wstring& entry, const std::wstring& name) {
  if (entry.size() <= name.size() || entry[name.size()] != L'=') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::towupper(entry[i]) != std::towupper(name[i])) return false;
  }
  return true;
}

void MakePipe(HANDLE& read, HANDLE& write) {
  if (!CreatePipe(&read, &write, nullptr, 0)) throw std::runtime_error("CreatePipe failed");
}

HANDLE Inheritable(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    throw std::runtime_error("DuplicateHandle failed");
  }
  return copy;
}

int ToFd(HANDLE handle, int flags) {
  return _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
}

void CloseFd(int& fd) {
  if (fd >= 0) _close(fd);
  fd = -1;
}

}  // namespace

CChildProcess::CChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const CProcessOptions& options)
    : m_input(options.input), m_limitMs(options.limitMs) {
  std::wstring commandLine = Quoted(Widen(program));
  for (const auto& a : args) commandLine += L" " + Quoted(Widen(a));

  std::wstring environment;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* e = block; *e; e += wcslen(e) + 1) {
      std::wstring entry(e);
      bool replaced = false;
      for (auto& [name, value] : options.environment) {
        if (SameNameCaseBlind(entry, Widen(name))) replaced = true;
      }
      if (!replaced) environment += entry + L'\0';
    }
    FreeEnvironmentStringsW(block);
  }
  for (auto& [name, value] : options.environment) {
    environment += Widen(name) + L"=" + Widen(value) + L'\0';
  }
  environment += L'\0';

  HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
  HANDLE errRead = nullptr, errWrite = nullptr;
  if (!options.outputFd) MakePipe(outRead, outWrite);
  MakePipe(errRead, errWrite);
  if (options.inputFd >= 0) {
    inRead = reinterpret_cast<HANDLE>(_get_osfhandle(options.inputFd));
  } else if (m_input) {
    MakePipe(inRead, inWrite);
  } else {
    inRead = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  }
  HANDLE childOut = outWrite;
  if (options.outputFd) {
    childOut = *options.outputFd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(*options.outputFd))
                                      : nullptr;
  }

  PROCESS_INFORMATION info{};
  {
    std::lock_guard lock(g_spawnMutex);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(inRead);
    startup.hStdOutput = Inheritable(childOut);
    startup.hStdError = Inheritable(errWrite);
    std::wstring dir = Widen(options.workingDirectory);
    const BOOL started =
        CreateProcessW(Widen(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT, environment.data(),
                       dir.empty() ? nullptr : dir.c_str(), &startup, &info);
    const DWORD error = GetLastError();
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
      if (h) CloseHandle(h);
    }
    if (!started) {
      for (HANDLE h : {inWrite, outRead, outWrite, errRead, errWrite}) {
        if (h) CloseHandle(h);
      }
      throw std::runtime_error("CreateProcessW failed for " + program + ": " +
                               WindowsErrorText(error));
    }
  }
  CloseHandle(info.hThread);
  if (options.inputFd < 0 && inRead) CloseHandle(inRead);
  if (outWrite) CloseHandle(outWrite);
  CloseHandle(errWrite);
  m_process = info.hProcess;
  m_pid = static_cast<pid_t>(info.dwProcessId);
  m_in = inWrite ? ToFd(inWrite, _O_WRONLY) : -1;
  m_out = outRead ? ToFd(outRead, _O_RDONLY) : -1;
  m_err = ToFd(errRead, _O_RDONLY);
}

CChildProcess::~CChildProcess() {
  if (m_process) {
    TerminateProcess(m_process, 1);
    WaitForSingleObject(m_process, INFINITE);
    CloseHandle(m_process);
  }
  CloseFd(m_in);
  CloseFd(m_out);
  CloseFd(m_err);
}

CProcessResult CChildProcess::Wait() {
  CProcessResult result;
  if (!m_process) return result;
  // One thread per pipe: Windows has no poll() over anonymous pipes.
  auto drain = [](int fd, std::string* into) {
    char buffer[8192];
    for (int n; (n = _read(fd, buffer, sizeof buffer)) > 0;) into->append(buffer, n);
  };
  std::thread out, err, in;
  if (m_out >= 0) out = std::thread(drain, m_out, &result.out);
  err = std::thread(drain, m_err, &result.err);
  if (m_in >= 0) {
    in = std::thread([this] {
      if (m_input && !m_input->empty()) {
        _write(m_in, m_input->data(), static_cast<unsigned>(m_input->size()));
      }
      CloseFd(m_in);
    });
  }
  if (WaitForSingleObject(m_process, static_cast<DWORD>(m_limitMs)) == WAIT_TIMEOUT) {
    TerminateProcess(m_process, 1);
    WaitForSingleObject(m_process, INFINITE);
    result.killedAtLimit = true;
  }
  DWORD code = 0;
  GetExitCodeProcess(m_process, &code);
  result.exitCode = static_cast<int>(code);
  if (in.joinable()) in.join();
  if (out.joinable()) out.join();
  err.join();
  CloseFd(m_in);
  CloseFd(m_out);
  CloseFd(m_err);
  CloseHandle(m_process);
  m_process = nullptr;
  m_pid = -1;
  return result;
}

int OwnProcessId() { return _getpid(); }

}  // namespace zx::test
