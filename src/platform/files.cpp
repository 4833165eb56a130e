#include "platform/files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/unique_fd.hpp"

namespace zx {

namespace fs = std::filesystem;

namespace {
constexpr const char* kSource = "File system";

void SyncPath(const std::string& path, bool directory) {
  const CUniqueFd fd(
      ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC));
  if (!fd.Valid()) ThrowErrno(kSource, fmt::format("Could not open '{}' to sync it", path), errno);
  if (::fsync(fd.Get()) != 0) ThrowErrno(kSource, fmt::format("Could not sync '{}'", path), errno);
}
}  // namespace

void CopyFileOver(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) ThrowErrno(kSource, fmt::format("Could not copy '{}' to '{}'", from, to), ec.value());
}

void RemoveFileQuietly(const std::string& path) noexcept {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    std::error_code ec;
    fs::remove(path + suffix, ec);
  }
}

void ReplaceFileAtomically(const std::string& from, const std::string& to) {
  SyncPath(from, false);
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) ThrowErrno(kSource, fmt::format("Could not replace '{}' with '{}'", to, from), ec.value());
  fs::path folder = fs::absolute(fs::path(to)).parent_path();
  SyncPath(folder.string(), true);
}

std::string SiblingTempPath(const std::string& path, const std::string& suffix) {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    std::string candidate =
        fmt::format("{}.{}.{}.{}", path, ::getpid(), counter.fetch_add(1), suffix);
    std::error_code ec;
    if (!fs::exists(candidate, ec)) return candidate;
  }
}

}  // namespace zx
