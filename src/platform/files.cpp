#include "platform/files.hpp"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/files_impl.hpp"
#include "platform/paths.hpp"

namespace zx {

namespace fs = std::filesystem;

namespace {

std::mutex g_faultHookMutex;
FileFaultHook g_faultHook;  // guarded by g_faultHookMutex
std::atomic<bool> g_faultHookSet{false};

}  // namespace

int InjectedFault(std::string_view step, const std::string& path) {
  if (!g_faultHookSet.load(std::memory_order_acquire)) return 0;
  std::lock_guard lock(g_faultHookMutex);
  return g_faultHook ? g_faultHook(step, path) : 0;
}

namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(PathFromUtf8(path), ec));
}

}  // namespace

CFileError::CFileError(std::string_view what, int errnum)
    : CExportError(codes::kFileError, kFilesSource,
                   fmt::format("{}: {}", what, SystemErrorText(errnum))),
      m_systemText(SystemErrorText(errnum)) {}

CFileError::CFileError(std::string_view what, std::string systemText)
    : CExportError(codes::kFileError, kFilesSource, fmt::format("{}: {}", what, systemText)),
      m_systemText(std::move(systemText)) {}

void CopyFileOver(const std::string& from, const std::string& to) {
  const std::string what = fmt::format("Could not copy '{}' to '{}'", from, to);
  if (const int injected = InjectedFault("copy", to)) throw CFileError(what, injected);
  const std::error_code ec = CopyFileContents(from, to);
  if (ec) throw CFileError(what, SystemErrorText(ec));
}

void RemoveFileQuietly(const std::string& path) noexcept {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    std::error_code ec;
    fs::remove(PathFromUtf8(path + suffix), ec);
  }
}

std::string SiblingTempPath(const std::string& path, const std::string& suffix) {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    std::string candidate =
        fmt::format("{}.{}.{}.{}", path, CurrentProcessId(), counter.fetch_add(1), suffix);
    if (!Exists(candidate)) return candidate;
  }
}

bool IsSamePathName(const std::string& a, const std::string& b) {
  std::error_code ea;
  std::error_code eb;
  const fs::path ra = fs::weakly_canonical(fs::absolute(PathFromUtf8(a)), ea);
  const fs::path rb = fs::weakly_canonical(fs::absolute(PathFromUtf8(b)), eb);
  return !ea && !eb && ra == rb;
}

void ThrowTargetBusy(const std::string& target, long holder) {
  throw CExportError(
      codes::kFileError, kFilesSource,
      holder > 0 ? fmt::format("The target file '{}' is being written by another export "
                               "(process {})",
                               target, holder)
                 : fmt::format("The target file '{}' is being written by another export", target));
}

CExportError NotALockFile(const std::string& target, const std::string& lock,
                          std::string_view why) {
  return CExportError(codes::kFileError, kFilesSource,
                      fmt::format("The file '{}' is in the way of the lock on the target file "
                                  "'{}': it is {}, not the lock file of an export; move or "
                                  "remove it",
                                  lock, target, why));
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(PathFromUtf8(path), ec);
}

void RemoveFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::error_code ec;
    fs::remove(PathFromUtf8(path), ec);
    if (ec) throw CFileError(fmt::format("Could not remove '{}'", path), SystemErrorText(ec));
  }
}

int InjectedFileFault(std::string_view step, const std::string& path) {
  return InjectedFault(step, path);
}

void SetFileFaultHook(FileFaultHook hook) {
  std::lock_guard lock(g_faultHookMutex);
  g_faultHookSet.store(static_cast<bool>(hook), std::memory_order_release);
  g_faultHook = std::move(hook);
}

}  // namespace zx
