#include "platform/beside_target.hpp"

#include <array>
#include <filesystem>
#include <system_error>

#include "platform/files.hpp"
#include "platform/paths.hpp"

namespace zx {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 3> kSqliteSideSuffixes = {"-journal", "-wal", "-shm"};

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(PathFromUtf8(path), ec));
}

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "<digits>.<digits>.work" with nothing after it but a SQLite side-file suffix.
bool IsWorkCopySuffix(std::string_view rest) {
  for (std::string_view side : kSqliteSideSuffixes) {
    if (rest.ends_with(side)) {
      rest.remove_suffix(side.size());
      break;
    }
  }
  if (!rest.ends_with(".work")) return false;
  rest.remove_suffix(5);
  const size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size()) return false;
  return AllDigits(rest.substr(0, dot)) && AllDigits(rest.substr(dot + 1));
}

// The suffixes after "T" of the names that do not depend on a process.
std::vector<std::string> FixedSuffixes() {
  std::vector<std::string> suffixes = {".lock", ".tmp"};
  for (std::string_view side : kSqliteSideSuffixes) {
    suffixes.push_back(".tmp" + std::string(side));
    suffixes.push_back(std::string(side));
  }
  return suffixes;
}

// The work copies (and their side files) beside `target`, by a folder listing.
std::vector<std::string> WorkCopies(const std::string& target) {
  std::vector<std::string> found;
  std::error_code ec;
  const fs::path targetPath = fs::absolute(PathFromUtf8(target), ec);
  if (ec) return found;
  const std::string name = PathToUtf8(targetPath.filename());
  fs::directory_iterator it(targetPath.parent_path(), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string entry = PathToUtf8(it->path().filename());
    if (entry.size() <= name.size() + 1 || !entry.starts_with(name) || entry[name.size()] != '.') {
      continue;
    }
    const std::string_view rest = std::string_view(entry).substr(name.size() + 1);
    if (IsWorkCopySuffix(rest)) found.push_back(target + "." + std::string(rest));
  }
  return found;
}

// `path` as the system finds it: absolute, links and dot segments resolved.
fs::path Resolved(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(PathFromUtf8(path), ec);
  if (ec) return {};
  fs::path resolved = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : resolved;
}

}  // namespace

std::string LockPathOf(const std::string& target) { return target + ".lock"; }

std::string CompactedPathOf(const std::string& target) { return target + ".tmp"; }

std::vector<std::string> ExportLeftovers(const std::string& target) {
  std::vector<std::string> found = WorkCopies(target);
  for (std::string& path : CompactedCopyFiles(target)) found.push_back(std::move(path));
  return found;
}

std::vector<std::string> CompactedCopyFiles(const std::string& target) {
  std::vector<std::string> found;
  const std::string compacted = CompactedPathOf(target);
  if (Exists(compacted)) found.push_back(compacted);
  for (std::string_view side : kSqliteSideSuffixes) {
    if (Exists(compacted + std::string(side))) found.push_back(compacted + std::string(side));
  }
  return found;
}

std::vector<std::string> SideFiles(const std::string& target) {
  std::vector<std::string> found;
  for (std::string_view side : kSqliteSideSuffixes) {
    if (Exists(target + std::string(side))) found.push_back(target + std::string(side));
  }
  return found;
}

std::string NameBesideTargetOf(const std::string& path, const std::string& target) {
  if (path.empty() || target.empty()) return {};
  // The export makes its names by appending to the target's text, so they
  // lie in the folder the target's name is in, whatever the target links to.
  const fs::path folder = PathFromUtf8(target).parent_path();
  const fs::path targetFolder = Resolved(folder.empty() ? "." : PathToUtf8(folder));
  const std::string targetName = PathToUtf8(PathFromUtf8(target).filename());
  const fs::path resolved = Resolved(path);
  if (!resolved.empty() && resolved.parent_path() == targetFolder) {
    const std::string name = PathToUtf8(resolved.filename());
    for (const std::string& suffix : FixedSuffixes()) {
      if (name == targetName + suffix) return target + suffix;
    }
    if (name.size() > targetName.size() + 1 && name.starts_with(targetName + ".") &&
        IsWorkCopySuffix(std::string_view(name).substr(targetName.size() + 1))) {
      return target + name.substr(targetName.size());
    }
  }
  std::vector<std::string> existing = WorkCopies(target);
  for (const std::string& suffix : FixedSuffixes()) {
    if (Exists(target + suffix)) existing.push_back(target + suffix);
  }
  for (const std::string& name : existing) {
    if (IsSameFile(path, name)) return name;
  }
  return {};
}

bool IsLockFileText(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  return text.size() <= 20 && AllDigits(text);
}

}  // namespace zx
