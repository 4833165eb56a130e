#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <optional>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/files.hpp"
#include "platform/files_impl.hpp"
#include "platform/windows/wide.hpp"

namespace zx {
namespace {

// A range far past any content: the holder's id at the start stays readable
// for the export that is refused.
constexpr DWORD kLockOffsetHigh = 1;
// How long a lock file that its holder just deleted may stand in the way:
// until the holder's handle is closed it keeps its name ("delete pending").
constexpr int kDeletePendingRetries = 100;
constexpr DWORD kDeletePendingWaitMs = 10;

struct CFileId {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const CFileId&) const = default;
};

std::optional<CFileId> FileIdOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
  return CFileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Folders too; no access asked, so that a file open elsewhere still answers.
std::optional<CFileId> FileIdOf(const std::string& path) {
  const CUniqueHandle file(
      ::CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.Valid()) return std::nullopt;
  return FileIdOf(file.Get());
}

// The process id a lock file holds, or 0.
long LockHolder(HANDLE file) {
  char text[32] = {};
  OVERLAPPED at{};
  DWORD read = 0;
  if (!::ReadFile(file, text, sizeof text - 1, &read, &at) || read == 0) return 0;
  return std::strtol(text, nullptr, 10);
}

void SyncStep(const std::string& path) {
  if (const int injected = InjectedFault("sync", path)) {
    throw CFileError(fmt::format("Could not sync '{}'", path), injected);
  }
  SyncPath(path, false);
}

}  // namespace

unsigned long CurrentProcessId() { return ::GetCurrentProcessId(); }

// Not std::filesystem::copy_file: MinGW's (GCC 12) refuses to overwrite, as
// without inodes it takes any two files for one.
std::error_code CopyFileContents(const std::string& from, const std::string& to) {
  if (::CopyFileW(Widen(from).c_str(), Widen(to).c_str(), FALSE)) return {};
  return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

void SyncPath(const std::string& path, bool directory) {
  // A folder's entries are written through by the replacement itself
  // (MOVEFILE_WRITE_THROUGH); Windows cannot flush a folder.
  if (directory) return;
  const CUniqueHandle file(::CreateFileW(Widen(path).c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    throw CFileError(fmt::format("Could not open '{}' to sync it", path),
                     WindowsErrorText(::GetLastError()));
  }
  if (!::FlushFileBuffers(file.Get())) {
    throw CFileError(fmt::format("Could not sync '{}'", path), WindowsErrorText(::GetLastError()));
  }
}

void ReplaceFileAtomically(const std::string& from, const std::string& to) {
  SyncStep(from);
  const std::string what = fmt::format("Could not replace '{}' with '{}'", to, from);
  if (const int injected = InjectedFault("rename", to)) throw CFileError(what, injected);
  // Write-through: the call returns once the new name is on the disk.
  if (!::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw CFileError(what, WindowsErrorText(::GetLastError()));
  }
}

bool IsSameFile(const std::string& a, const std::string& b) {
  const auto ia = FileIdOf(a);
  const auto ib = FileIdOf(b);
  if (ia && ib) return *ia == *ib;
  return IsSamePathName(a, b);
}

CTargetLock::CTargetLock(const std::string& target) : m_path(target + ".lock") {
  const std::wstring path = Widen(m_path);
  int deletePending = 0;
  // A lock file removed by its holder between our open and our lock is
  // locked in vain: take the lock only on the file that is still at the path.
  for (;;) {
    CUniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_ACCESS_DENIED && ++deletePending < kDeletePendingRetries) {
        ::Sleep(kDeletePendingWaitMs);
        continue;
      }
      throw CFileError(fmt::format("Could not create '{}'", m_path), WindowsErrorText(error));
    }
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    if (!::LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &range)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
        throw CFileError(fmt::format("Could not lock '{}'", m_path), WindowsErrorText(error));
      }
      ThrowTargetBusy(target, LockHolder(file.Get()));
    }
    const auto held = FileIdOf(file.Get());
    if (held && held == FileIdOf(m_path)) {
      const std::string pid = std::to_string(::GetCurrentProcessId()) + "\r\n";
      DWORD written = 0;
      OVERLAPPED start{};
      // The id only names the holder in another export's message; the lock holds without it.
      if (::SetEndOfFile(file.Get())) {
        ::WriteFile(file.Get(), pid.data(), static_cast<DWORD>(pid.size()), &written, &start);
      }
      const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_RDWR);
      if (fd < 0) throw CFileError(fmt::format("Could not lock '{}'", m_path), errno);
      file.Release();
      m_fd.Reset(fd);
      break;
    }
  }
}

CTargetLock::~CTargetLock() {
  // Deleted while still held (the handle allows it), so that no other export
  // can have locked this file; the name goes when the handle is closed.
  ::DeleteFileW(Widen(m_path).c_str());
}

}  // namespace zx
