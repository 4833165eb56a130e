#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "platform/beside_target.hpp"
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

// Throws unless `fd` is a lock file an export made: a regular file with no
// other name, holding a process id.
void CheckExportLockFile(int fd, const std::string& target, const std::string& lock) {
  struct stat held {};
  if (::fstat(fd, &held) != 0) throw CFileError(fmt::format("Could not read '{}'", lock), errno);
  if (!S_ISREG(held.st_mode)) throw NotALockFile(target, lock, "not a regular file");
  if (held.st_nlink != 1) throw NotALockFile(target, lock, "a file with other names");
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text, 0);
  if (n < 0) throw CFileError(fmt::format("Could not read '{}'", lock), errno);
  if (!IsLockFileText(std::string_view(text, static_cast<size_t>(n)))) {
    throw NotALockFile(target, lock, "a file with other content");
  }
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

CTargetLock::CTargetLock(const std::string& target) : m_path(LockPathOf(target)) {
  // A lock file removed by its holder between our open and our flock is
  // locked in vain: take the lock only on the file that is still at the path.
  for (;;) {
    CUniqueFd fd(::open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    const bool created = fd.Valid();
    if (!created && errno == EEXIST) {
      // Never through a link: the id is written into the file taken over.
      fd = CUniqueFd(::open(m_path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
      if (!fd.Valid() && errno == ENOENT) continue;
      if (!fd.Valid() && (errno == ELOOP || errno == EISDIR)) {
        throw NotALockFile(target, m_path, errno == ELOOP ? "a symbolic link" : "a folder");
      }
      if (fd.Valid()) CheckExportLockFile(fd.Get(), target, m_path);
    }
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
      m_tookOver = !created;
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
