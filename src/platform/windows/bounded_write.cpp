#include "platform/ipc/bounded_write.hpp"

#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <string>

#include "platform/windows/wide.hpp"

namespace zx {
namespace {

// The errno of a failed write, which is what CWriteResult carries.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
      return EPIPE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    default:
      return EIO;
  }
}

// A console is written in wide characters, so that it shows UTF-8 whatever
// its code page; one call, as the console takes everything at once.
CWriteResult WriteConsoleText(HANDLE console, const char* bytes, size_t size) {
  CWriteResult result;
  const std::wstring wide = Widen(std::string_view(bytes, size));
  DWORD done = 0;
  for (size_t at = 0; at < wide.size(); at += done) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(wide.size() - at, 16 * 1024));
    if (!::WriteConsoleW(console, wide.data() + at, piece, &done, nullptr) || done == 0) {
      result.outcome = WriteOutcome::kFailed;
      result.error = ErrnoOf(::GetLastError());
      return result;
    }
  }
  result.written = size;
  return result;
}

// A disk file never waits on a reader.
CWriteResult WriteDirectly(HANDLE file, const char* bytes, size_t size) {
  CWriteResult result;
  while (result.written < size) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(size - result.written, 1 << 20));
    DWORD done = 0;
    if (!::WriteFile(file, bytes + result.written, piece, &done, nullptr)) {
      result.outcome = WriteOutcome::kFailed;
      result.error = ErrnoOf(::GetLastError());
      return result;
    }
    result.written += done;
  }
  return result;
}

// A pipe that standard output or error is on was opened by someone else,
// without overlapped I/O, and its mode is shared with other processes: a
// thread of its own writes it, in pieces, and is cancelled when the reader
// takes nothing for the limit. The thread owns a copy of the bytes, so that
// a write that cannot be cancelled strands nothing of the caller's.
struct CPipeWrite {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string bytes;
  std::atomic<size_t> written{0};
  std::atomic<DWORD> error{0};
  std::atomic<bool> done{false};
  CUniqueHandle progress{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

constexpr size_t kPipePiece = 4096;

DWORD WINAPI WritePipe(void* parameter) {
  const std::unique_ptr<std::shared_ptr<CPipeWrite>> owner(
      static_cast<std::shared_ptr<CPipeWrite>*>(parameter));
  CPipeWrite& job = **owner;
  while (job.written.load() < job.bytes.size()) {
    const size_t at = job.written.load();
    const DWORD piece = static_cast<DWORD>(std::min(job.bytes.size() - at, kPipePiece));
    DWORD done = 0;
    if (!::WriteFile(job.file, job.bytes.data() + at, piece, &done, nullptr)) {
      job.error = ::GetLastError();
      break;
    }
    job.written += done;
    ::SetEvent(job.progress.Get());
  }
  job.done = true;
  ::SetEvent(job.progress.Get());
  return 0;
}

CWriteResult WritePipeBounded(HANDLE file, const char* bytes, size_t size, int stallLimitMs) {
  CWriteResult result;
  auto job = std::make_shared<CPipeWrite>();
  job->file = file;
  job->bytes.assign(bytes, size);
  auto* threadShare = new std::shared_ptr<CPipeWrite>(job);
  CUniqueHandle thread(::CreateThread(nullptr, 0, WritePipe, threadShare, 0, nullptr));
  if (!thread.Valid() || !job->progress.Valid()) {
    if (!thread.Valid()) delete threadShare;
    result.outcome = WriteOutcome::kFailed;
    result.error = ErrnoOf(::GetLastError());
    return result;
  }
  size_t seen = 0;
  while (!job->done.load()) {
    if (::WaitForSingleObject(job->progress.Get(), static_cast<DWORD>(std::max(stallLimitMs, 0))) ==
        WAIT_TIMEOUT) {
      if (job->written.load() != seen) {
        seen = job->written.load();
        continue;
      }
      ::CancelSynchronousIo(thread.Get());
      result.outcome = WriteOutcome::kStalled;
      result.written = job->written.load();
      return result;
    }
    seen = job->written.load();
  }
  ::WaitForSingleObject(thread.Get(), INFINITE);
  result.written = job->written.load();
  if (const DWORD error = job->error.load()) {
    result.outcome = WriteOutcome::kFailed;
    result.error = ErrnoOf(error);
  }
  return result;
}

}  // namespace

CWriteResult WriteBounded(int fd, const void* data, size_t size, int stallLimitMs) {
  const char* bytes = static_cast<const char*>(data);
  const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (file == INVALID_HANDLE_VALUE || file == nullptr) {
    CWriteResult result;
    result.outcome = WriteOutcome::kFailed;
    result.error = EBADF;
    return result;
  }
  if (size == 0) return {};
  switch (::GetFileType(file)) {
    case FILE_TYPE_CHAR: {
      DWORD mode = 0;
      if (::GetConsoleMode(file, &mode)) return WriteConsoleText(file, bytes, size);
      return WriteDirectly(file, bytes, size);
    }
    case FILE_TYPE_PIPE:
      return WritePipeBounded(file, bytes, size, stallLimitMs);
    default:
      return WriteDirectly(file, bytes, size);
  }
}

}  // namespace zx
