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
// True when `path` names a folder (through links).
bool IsFolder(const std::string& path);

// Removes each file; throws CFileError for one that exists and cannot go.
void RemoveFiles(const std::vector<std::string>& paths);

// An exclusive lock on "<target>.lock" (flock), holding this process's id.
// The lock file is removed when the lock goes; one left by a killed process
// is taken over. A file of that name that no export made (a link, a file
// with other names or other content) is neither taken over nor changed.
// Thread: one thread at a time.
class CTargetLock {
 public:
  // Throws CExportError(kFileError) naming the target and the process that
  // holds it when another export has it, or naming a file in the lock's
  // place that is not a lock file; CFileError when the lock file cannot be
  // made.
  explicit CTargetLock(const std::string& target);
  ~CTargetLock();
  CTargetLock(const CTargetLock&) = delete;
  CTargetLock& operator=(const CTargetLock&) = delete;

  const std::string& Path() const { return m_path; }
  // True when the lock file was there already, left by an export that
  // stopped without removing it.
  bool TookOver() const { return m_tookOver; }

 private:
  std::string m_path;
  CUniqueFd m_fd;
  bool m_tookOver = false;
};

// Test seam: called before each file step ("copy", "sync", "rename") with the
// path it acts on; a non-zero errno makes that step fail as if the system had
// refused it. Never set in production.
using FileFaultHook = std::function<int(std::string_view step, const std::string& path)>;
void SetFileFaultHook(FileFaultHook hook);
// The errno the test seam asks `step` on `path` to fail with, else 0; for
// file steps made outside this file.
int InjectedFileFault(std::string_view step, const std::string& path);

}  // namespace zx
