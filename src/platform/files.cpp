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

std::vector<std::string> ExportLeftovers(const std::string& target) {
  std::vector<std::string> found;
  const fs::path targetPath = fs::absolute(PathFromUtf8(target));
  const std::string name = PathToUtf8(targetPath.filename());
  std::error_code ec;
  fs::directory_iterator it(targetPath.parent_path(), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string entry = PathToUtf8(it->path().filename());
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
    fs::remove(PathFromUtf8(path), ec);
    if (ec) throw CFileError(fmt::format("Could not remove '{}'", path), SystemErrorText(ec));
  }
}

void SetFileFaultHook(FileFaultHook hook) {
  std::lock_guard lock(g_faultHookMutex);
  g_faultHookSet.store(static_cast<bool>(hook), std::memory_order_release);
  g_faultHook = std::move(hook);
}

}  // namespace zx
