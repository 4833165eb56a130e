#pragma once
// Test seam: SQLite's file layer, wrapped so that chosen operations on chosen
// files fail as a full disk or a failing device makes them fail. Never used
// in production; the wrapper is only installed by SetZuvFileFaults.
#include <string>

namespace zx {

enum class ZuvFileOperation { Write, Sync, Truncate, Delete };

struct CZuvFileFaults {
  // Files (SQLite's full path names) starting with this are counted and may fail.
  std::string pathPrefix;
  ZuvFileOperation operation = ZuvFileOperation::Write;
  int failAt = 0;           // the failAt-th such operation fails; 0: count only
  bool persistent = false;  // every later one fails too
};

// Makes the wrapper SQLite's default file layer (for connections opened from
// now on) and starts counting afresh.
void SetZuvFileFaults(const CZuvFileFaults& faults);
// Back to SQLite's own file layer; the counts stay readable.
void ClearZuvFileFaults();
// Operations of that kind on matching files since SetZuvFileFaults.
int ZuvFileOperationCount(ZuvFileOperation operation);

}  // namespace zx
