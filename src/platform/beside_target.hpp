#pragma once
// The files an export keeps beside its target "T": the lock "T.lock", the
// work copies "T.<pid>.<n>.work", the compacted copy "T.tmp", SQLite's side
// files of these ("-journal", "-wal", "-shm") and the target's own side files
// "T-journal", "T-wal", "T-shm". Names and folder listings only, the same on
// every system.
//
// Which of them an export may remove: the target's side files, before the
// rename (a journal left by whatever last wrote the old target would be
// applied to the new one); the files of this export; and the work copies and
// "T.tmp" family that exist when it takes over the lock of an export that
// was stopped without cleaning up (a killed process leaves its lock file,
// holding its process id, beside what it made). Without such a lock, files
// of those names are not known to be an export's and are left as they are.
#include <string>
#include <string_view>
#include <vector>

namespace zx {

// The lock file's name beside `target`.
std::string LockPathOf(const std::string& target);
// The compacted copy's name beside `target`.
std::string CompactedPathOf(const std::string& target);

// The work copies, the "T.tmp" family and their side files that exist beside
// `target`. Only names; nothing is removed.
std::vector<std::string> ExportLeftovers(const std::string& target);
// "T.tmp" and its side files that exist.
std::vector<std::string> CompactedCopyFiles(const std::string& target);
// The target's own SQLite side files that exist ("T-journal", -wal, -shm).
std::vector<std::string> SideFiles(const std::string& target);

// The name beside `target` that `path` is: by its spelling (dot segments,
// links in the folders), or by identity with one that exists (a hard or
// symbolic link to it). Empty when it is none of them.
std::string NameBesideTargetOf(const std::string& path, const std::string& target);

// True for the text of a lock file an export wrote: its process id and a
// line end, or nothing (the export stopped before it wrote its id).
bool IsLockFileText(std::string_view text);

}  // namespace zx
