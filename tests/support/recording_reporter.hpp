#pragma once
// A reporter that keeps every call, for tests. Thread-safe: it takes its own
// lock, so it also shows whether calls were made under the exporter's lock
// only through TSan, not through deadlocks.
#include <mutex>
#include <string>
#include <vector>

#include "reporting/progress_reporter.hpp"

namespace zx::test {

class CRecordingReporter : public CProgressReporterBase {
 public:
  struct CEntry {
    enum class Kind { Progress, Info, Error } kind;
    std::string text;  // the message; the percentage in decimal for Progress
    int percent = 0;
  };

  void ReportProgress(int percent) override;
  void ReportInfo(const std::string& message) override;
  void ReportError(const std::string& message) override;

  std::vector<CEntry> Entries() const;
  std::vector<std::string> Infos() const;
  std::vector<std::string> Errors() const;
  std::vector<int> Percents() const;
  // Every call as the console shows it ("Info: ...", "Error: ...", "42").
  std::vector<std::string> Lines() const;

 private:
  void Add(CEntry entry);
  mutable std::mutex m_mutex;
  std::vector<CEntry> m_entries;  // guarded by m_mutex
};

}  // namespace zx::test
