#pragma once
// Reports as lines on standard output, flushed one by one so that a program
// reading the output sees each line as it comes.
#include <string>

#include "reporting/progress_reporter.hpp"

namespace zx {

class CConsoleProgressReporter : public CProgressReporterBase {
 public:
  void ReportProgress(int percent) override;
  void ReportInfo(const std::string& message) override;
  void ReportError(const std::string& message) override;
};

}  // namespace zx
