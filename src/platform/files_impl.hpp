#pragma once
// Shared by files.cpp and the OS's files.cpp.
#include <string>
#include <string_view>
#include <system_error>

namespace zx {

// The source of the file steps' errors.
inline constexpr const char* kFilesSource = "File system";

// The errno the test seam asks this step to fail with, else 0.
int InjectedFault(std::string_view step, const std::string& path);
// This process's id, as the lock file and the work copies' names hold it.
unsigned long CurrentProcessId();
// Copies `from` over `to`, which is replaced when it exists.
std::error_code CopyFileContents(const std::string& from, const std::string& to);
// IsSameFile's rule when a file id cannot be had: the same absolute path
// with links and dot segments resolved.
bool IsSamePathName(const std::string& a, const std::string& b);
// The target lock's refusal: another export, process `holder` when known (> 0), has it.
[[noreturn]] void ThrowTargetBusy(const std::string& target, long holder);

}  // namespace zx
