#pragma once
// File operations of the export: copying the source, the temporary work file,
// the lock that keeps a target to one export and the atomic replacement of
// the target.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"

#include "platform/unique_fd.hpp"

namespace zx {

// A failed file step: Description() names the paths, SystemText() is the bare
// system error text.
class CFileError : public CExportError {
 public:
  CFileError(std::string_view what, int errnum);
  CFileError(std::string_view what, std::string systemText);
  const std::string& SystemText() const noexcept { return m_systemText; }

 private:
  std::string m_systemText;
};

// Copies `from` over `to` (overwriting). Throws CFileError on failure.
void CopyFileOver(const std::string& from, const std::string& to);
// Removes a file and SQLite's side files (-journal, -wal, -shm); missing
// files are fine; never throws.
void RemoveFileQuietly(const std::string& path) noexcept;
// fsyncs the file and renames it over `to` in one step, then fsyncs the
// folder. Throws CFileError on failure; one that happens after the rename
// (the folder's sync) says so.
void ReplaceFileAtomically(const std::string& from, const std::string& to);
// fsyncs a file, or a folder (`directory`) so that its entries last. Throws
// CFileError on failure; the test seam below does not reach it.
void SyncPath(const std::string& path, bool directory);
// A fresh path beside `path` ("<path>.<pid>.<n>.<suffix>") that does not exist yet.
std::string SiblingTempPath(const std::string& path, const std::string& suffix);

// True when `a` and `b` are one file: the same device and inode when both
// exist, else the same absolute path with links and dot segments resolved.
bool IsSameFile(const std::string& a, const std::string& b);

// Files an earlier export to `target` left when it was killed: its work
// copies ("<target>.<pid>.<n>.work"), "<target>.tmp", and their SQLite side
// files. Only names; nothing is removed.
std::vector<std::string> ExportLeftovers(const std::string& target);
// The target's own SQLite side files that exist ("<target>-journal", -wal, -shm).
std::vector<std::string> SideFiles(const std::string& target);
// Removes each file; throws CFileError for one that exists and cannot go.
void RemoveFiles(const std::vector<std::string>& paths);

// An exclusive lock on "<target>.lock" (flock), holding this process's id.
// The lock file is removed when the lock goes; one left by a killed process
// is taken over. Thread: one thread at a time.
class CTargetLock {
 public:
  // Throws CExportError(kFileError) naming the target and the process that
  // holds it when another export has it; CFileError when the lock file
  // cannot be made.
  explicit CTargetLock(const std::string& target);
  ~CTargetLock();
  CTargetLock(const CTargetLock&) = delete;
  CTargetLock& operator=(const CTargetLock&) = delete;

  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  CUniqueFd m_fd;
};

// Test seam: called before each file step ("copy", "sync", "rename") with the
// path it acts on; a non-zero errno makes that step fail as if the system had
// refused it. Never set in production.
using FileFaultHook = std::function<int(std::string_view step, const std::string& path)>;
void SetFileFaultHook(FileFaultHook hook);

}  // namespace zx
