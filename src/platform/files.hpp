#pragma once
// File operations of the export: copying the source, the temporary work file
// and the atomic replacement of the target.
#include <string>

namespace zx {

// Copies `from` over `to` (overwriting). Throws CExportError(kFileError) with
// the system text on failure.
void CopyFileOver(const std::string& from, const std::string& to);
// Removes a file and SQLite's side files (-journal, -wal, -shm); missing
// files are fine; never throws.
void RemoveFileQuietly(const std::string& path) noexcept;
// fsyncs the file and renames it over `to` in one step, then fsyncs the
// folder. Throws CExportError(kFileError) on failure.
void ReplaceFileAtomically(const std::string& from, const std::string& to);
// A fresh path beside `path` ("<path>.<pid>.<n>.<suffix>") that does not exist yet.
std::string SiblingTempPath(const std::string& path, const std::string& suffix);

}  // namespace zx
