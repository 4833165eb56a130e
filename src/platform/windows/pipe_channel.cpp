#include "platform/ipc/pipe_channel.hpp"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <chrono>

#include "platform/windows/wide.hpp"

namespace zx {
namespace {

using Clock = std::chrono::steady_clock;

// Written in pieces, so that a reader that takes some of a long message is
// seen to make progress.
constexpr size_t kPiece = 4096;

HANDLE HandleOf(const CUniqueFd& fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd.Get()));
}

// One overlapped write of `size` bytes, waited for at most `limitMs`; a
// write still pending then is cancelled. The bytes it wrote, or -1.
long long WritePiece(HANDLE pipe, const char* bytes, DWORD size, int limitMs) {
  OVERLAPPED overlapped{};
  const CUniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event.Valid()) return -1;
  overlapped.hEvent = event.Get();
  DWORD done = 0;
  if (!::WriteFile(pipe, bytes, size, nullptr, &overlapped)) {
    if (::GetLastError() != ERROR_IO_PENDING) return -1;
    if (::WaitForSingleObject(event.Get(), static_cast<DWORD>(std::max(limitMs, 0))) !=
        WAIT_OBJECT_0) {
      ::CancelIoEx(pipe, &overlapped);
    }
  }
  // Waits for the cancelled write to end: the kernel may still use `overlapped`.
  if (!::GetOverlappedResult(pipe, &overlapped, &done, TRUE)) return -1;
  return done;
}

}  // namespace

std::string CPipeChannel::PathForName(const std::string& name) {
  if (name.starts_with("\\\\")) return name;
  return "\\\\.\\pipe\\" + name;
}

CPipeChannel::~CPipeChannel() { Close(); }

bool CPipeChannel::Connect(const std::string& path, int busyWaitLimitMs) {
  Close();
  const std::wstring wide = Widen(path);
  const auto deadline = Clock::now() + std::chrono::milliseconds(busyWaitLimitMs);
  for (;;) {
    CUniqueHandle pipe(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED, nullptr));
    if (pipe.Valid()) {
      const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(pipe.Get()), _O_WRONLY);
      if (fd < 0) return false;
      pipe.Release();
      m_fd.Reset(fd);
      return true;
    }
    // ERROR_PIPE_BUSY: every instance of the server's pipe is taken. Anything
    // else (no such pipe above all) means nobody listens.
    if (::GetLastError() != ERROR_PIPE_BUSY) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    ::WaitNamedPipeW(wide.c_str(), static_cast<DWORD>(left));
  }
}

bool CPipeChannel::Send(const void* data, size_t size, int stallLimitMs) {
  if (!m_fd.Valid()) return false;
  const HANDLE pipe = HandleOf(m_fd);
  const char* bytes = static_cast<const char*>(data);
  size_t written = 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(stallLimitMs);
  while (written < size) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const DWORD piece = static_cast<DWORD>(std::min(size - written, kPiece));
    const long long done =
        left > 0 ? WritePiece(pipe, bytes + written, piece, static_cast<int>(left)) : 0;
    // A reader that stopped taking bytes is given up like one that went away:
    // a message cut in the middle would break its framing anyway.
    if (done <= 0) {
      Close();
      return false;
    }
    written += static_cast<size_t>(done);
    deadline = Clock::now() + std::chrono::milliseconds(stallLimitMs);
  }
  return true;
}

void CPipeChannel::Close() noexcept { m_fd.Reset(); }

}  // namespace zx
