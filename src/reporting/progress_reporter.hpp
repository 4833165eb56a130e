#pragma once
// Where an export's progress and messages go. Callers pass a whole message
// without a severity word; the reporter adds its tag and the line end.
// Reporters hold no lock: once the read thread runs, callers serialise every
// call with the exporter's progress lock.
#include <string>

namespace zx {

class CProgressReporterBase {
 public:
  virtual ~CProgressReporterBase() = default;
  virtual void ReportProgress(int percent) = 0;
  virtual void ReportInfo(const std::string& message) = 0;
  virtual void ReportError(const std::string& message) = 0;
};

}  // namespace zx
