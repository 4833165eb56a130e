#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/files.hpp"
#include "platform/files_impl.hpp"
#include "platform/unique_fd.hpp"

namespace zx {

namespace fs = std::filesystem;

namespace {

// The export's own sync steps, which the test seam can fail.
void SyncStep(const std::string& path, bool directory) {
  if (const int injected = InjectedFault("sync", path)) {
    throw CFileError(fmt::format("Could not sync '{}'", path), injected);
  }
  SyncPath(path, directory);
}

// The process id a lock file holds, or 0.
long LockHolder(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}
}  // namespace

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

std::error_code CopyFileContents(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  return ec;
}

void SyncPath(const std::string& path, bool directory) {
  const CUniqueFd fd(
      ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC));
  if (!fd.Valid()) throw CFileError(fmt::format("Could not open '{}' to sync it", path), errno);
  if (::fsync(fd.Get()) != 0) throw CFileError(fmt::format("Could not sync '{}'", path), errno);
}

void ReplaceFileAtomically(const std::string& from, const std::string& to) {
  SyncStep(from, false);
  const std::string what = fmt::format("Could not replace '{}' with '{}'", to, from);
  if (const int injected = InjectedFault("rename", to)) throw CFileError(what, injected);
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) throw CFileError(what, ec.value());
  const fs::path folder = fs::absolute(fs::path(to)).parent_path();
  try {
    SyncStep(folder.string(), true);
  } catch (const CFileError& error) {
    throw CFileError(fmt::format("'{}' was replaced, but its folder could not be synced", to),
                     error.SystemText());
  }
}

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return IsSamePathName(a, b);
}

CTargetLock::CTargetLock(const std::string& target) : m_path(target + ".lock") {
  // A lock file removed by its holder between our open and our flock is
  // locked in vain: take the lock only on the file that is still at the path.
  for (;;) {
    CUniqueFd fd(::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.Valid()) throw CFileError(fmt::format("Could not create '{}'", m_path), errno);
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      if (err != EWOULDBLOCK) throw CFileError(fmt::format("Could not lock '{}'", m_path), err);
      ThrowTargetBusy(target, LockHolder(fd.Get()));
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd.Get(), &held) == 0 && ::stat(m_path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      m_fd = std::move(fd);
      break;
    }
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(m_fd.Get(), 0) != 0 || ::pwrite(m_fd.Get(), pid.data(), pid.size(), 0) < 0) {
    // The id only names the holder in another export's message; the lock holds without it.
  }
}

CTargetLock::~CTargetLock() {
  // Removed while still held, so that no other export can have locked this file.
  ::unlink(m_path.c_str());
}

}  // namespace zx
