#include "platform/files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/unique_fd.hpp"

namespace zx {

namespace fs = std::filesystem;

namespace {
constexpr const char* kSource = "File system";

std::mutex g_faultHookMutex;
FileFaultHook g_faultHook;  // guarded by g_faultHookMutex
std::atomic<bool> g_faultHookSet{false};

// The errno the test seam asks this step to fail with, else 0.
int InjectedFault(std::string_view step, const std::string& path) {
  if (!g_faultHookSet.load(std::memory_order_acquire)) return 0;
  std::lock_guard lock(g_faultHookMutex);
  return g_faultHook ? g_faultHook(step, path) : 0;
}

// The export's own sync steps, which the test seam can fail.
void SyncStep(const std::string& path, bool directory) {
  if (const int injected = InjectedFault("sync", path)) {
    throw CFileError(fmt::format("Could not sync '{}'", path), injected);
  }
  SyncPath(path, directory);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// "<digits>.<digits>.work" with nothing after it but a SQLite side-file suffix.
bool IsWorkCopySuffix(std::string_view rest) {
  for (std::string_view side : {"-journal", "-wal", "-shm"}) {
    if (rest.ends_with(side)) {
      rest.remove_suffix(side.size());
      break;
    }
  }
  if (!rest.ends_with(".work")) return false;
  rest.remove_suffix(5);
  const size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size()) return false;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (i != dot && (rest[i] < '0' || rest[i] > '9')) return false;
  }
  return true;
}

// The process id a lock file holds, or 0.
long LockHolder(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}
}  // namespace

void SyncPath(const std::string& path, bool directory) {
  const CUniqueFd fd(
      ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC));
  if (!fd.Valid()) throw CFileError(fmt::format("Could not open '{}' to sync it", path), errno);
  if (::fsync(fd.Get()) != 0) throw CFileError(fmt::format("Could not sync '{}'", path), errno);
}

CFileError::CFileError(std::string_view what, int errnum)
    : CExportError(codes::kFileError, kSource,
                   fmt::format("{}: {}", what, SystemErrorText(errnum))),
      m_systemText(SystemErrorText(errnum)) {}

CFileError::CFileError(std::string_view what, std::string systemText)
    : CExportError(codes::kFileError, kSource, fmt::format("{}: {}", what, systemText)),
      m_systemText(std::move(systemText)) {}

void CopyFileOver(const std::string& from, const std::string& to) {
  const std::string what = fmt::format("Could not copy '{}' to '{}'", from, to);
  if (const int injected = InjectedFault("copy", to)) throw CFileError(what, injected);
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) throw CFileError(what, ec.value());
}

void RemoveFileQuietly(const std::string& path) noexcept {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    std::error_code ec;
    fs::remove(path + suffix, ec);
  }
}

void ReplaceFileAtomically(const std::string& from, const std::string& to) {
  SyncStep(from, false);
  const std::string what = fmt::format("Could not replace '{}' with '{}'", to, from);
  if (const int injected = InjectedFault("rename", to)) throw CFileError(what, injected);
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) throw CFileError(what, ec.value());
  fs::path folder = fs::absolute(fs::path(to)).parent_path();
  try {
    SyncStep(folder.string(), true);
  } catch (const CFileError& error) {
    throw CFileError(fmt::format("'{}' was replaced, but its folder could not be synced", to),
                     error.SystemText());
  }
}

std::string SiblingTempPath(const std::string& path, const std::string& suffix) {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    std::string candidate =
        fmt::format("{}.{}.{}.{}", path, ::getpid(), counter.fetch_add(1), suffix);
    if (!Exists(candidate)) return candidate;
  }
}

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  std::error_code ea;
  std::error_code eb;
  const fs::path ra = fs::weakly_canonical(fs::absolute(a), ea);
  const fs::path rb = fs::weakly_canonical(fs::absolute(b), eb);
  return !ea && !eb && ra == rb;
}

std::vector<std::string> ExportLeftovers(const std::string& target) {
  std::vector<std::string> found;
  const fs::path targetPath = fs::absolute(target);
  const std::string name = targetPath.filename().string();
  std::error_code ec;
  fs::directory_iterator it(targetPath.parent_path(), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (entry.size() <= name.size() + 1 || !entry.starts_with(name) || entry[name.size()] != '.') {
      continue;
    }
    const std::string_view rest = std::string_view(entry).substr(name.size() + 1);
    if (IsWorkCopySuffix(rest) || rest == "tmp" || rest == "tmp-journal" || rest == "tmp-wal" ||
        rest == "tmp-shm") {
      found.push_back(target + "." + std::string(rest));
    }
  }
  return found;
}

std::vector<std::string> SideFiles(const std::string& target) {
  std::vector<std::string> found;
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    if (Exists(target + suffix)) found.push_back(target + suffix);
  }
  return found;
}

void RemoveFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::error_code ec;
    fs::remove(path, ec);
    if (ec) throw CFileError(fmt::format("Could not remove '{}'", path), ec.value());
  }
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
      const long holder = LockHolder(fd.Get());
      throw CExportError(
          codes::kFileError, kSource,
          holder > 0
              ? fmt::format("The target file '{}' is being written by another export "
                            "(process {})",
                            target, holder)
              : fmt::format("The target file '{}' is being written by another export", target));
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

void SetFileFaultHook(FileFaultHook hook) {
  std::lock_guard lock(g_faultHookMutex);
  g_faultHookSet.store(static_cast<bool>(hook), std::memory_order_release);
  g_faultHook = std::move(hook);
}

}  // namespace zx
