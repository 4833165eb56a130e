#pragma once
// The one shape of an operation's error report.
#include <string>
#include <string_view>

namespace zx {

// REQUIRES: called inside a catch block. "Error at %s\n%s : %s" followed by
// `trailer` when the exception in flight is a CExportError; the bare location
// for any other exception.
std::string DescribeCaughtException(std::string_view location, std::string_view trailer = {});

}  // namespace zx
