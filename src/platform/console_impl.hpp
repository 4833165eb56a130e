#pragma once
// Shared by console.cpp and the OS's console file.
#include <string>

namespace zx {

// Standard output is given up for good; the first call says why on standard error.
void GiveUpStandardOutput(const std::string& reason);

}  // namespace zx
