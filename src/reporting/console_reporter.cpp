#include "reporting/console_reporter.hpp"

#include <cstdio>
#include <string_view>

#include <fmt/format.h>

namespace zx {
namespace {

// The message is data, never a format: a '%' in it is printed as it is.
void WriteLine(std::string_view tag, const std::string& message) {
  std::string line;
  line.reserve(tag.size() + message.size() + 1);
  line.append(tag).append(message).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

void CConsoleProgressReporter::ReportProgress(int percent) {
  fmt::print(stdout, "{}\n", percent);
  std::fflush(stdout);
}

void CConsoleProgressReporter::ReportInfo(const std::string& message) {
  WriteLine("Info: ", message);
}

void CConsoleProgressReporter::ReportError(const std::string& message) {
  WriteLine("Error: ", message);
}

}  // namespace zx
