#include "reporting/console_reporter.hpp"

#include <string_view>

#include <fmt/format.h>

#include "platform/console.hpp"

namespace zx {
namespace {

// The message is data, never a format: a '%' in it is printed as it is.
void WriteLine(std::string_view tag, const std::string& message) {
  std::string line;
  line.reserve(tag.size() + message.size() + 1);
  line.append(tag).append(message).push_back('\n');
  WriteStandardOutput(line);
}

}  // namespace

void CConsoleProgressReporter::ReportProgress(int percent) {
  WriteStandardOutput(fmt::format("{}\n", percent));
}

void CConsoleProgressReporter::ReportInfo(const std::string& message) {
  WriteLine("Info: ", message);
}

void CConsoleProgressReporter::ReportError(const std::string& message) {
  WriteLine("Error: ", message);
}

}  // namespace zx
