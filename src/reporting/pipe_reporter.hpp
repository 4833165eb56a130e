#pragma once
// Writes every report to the pipe a controlling program listens on: a
// Unix-domain socket (or a FIFO), the client end connected once.
#include <string>

#include "platform/ipc/bounded_write.hpp"
#include "platform/ipc/pipe_channel.hpp"
#include "reporting/progress_reporter.hpp"

namespace zx {

class CNamedPipeProgressReporter : public CProgressReporterBase {
 public:
  // Connects to CPipeChannel::PathForName(pipeName). Nobody listening is not
  // an error: the reports are then dropped silently. So are all reports after
  // one the reader left untaken for `stallLimitMs`.
  explicit CNamedPipeProgressReporter(std::string pipeName,
                                      int stallLimitMs = kStalledReaderLimitMs);
  ~CNamedPipeProgressReporter() override = default;

  void ReportProgress(int percent) override;
  void ReportInfo(const std::string& message) override;
  void ReportError(const std::string& message) override;

  const std::string& PipePath() const { return m_pipeName; }

 private:
  std::string m_pipeName;  // the path connected to
  CPipeChannel m_pipe;
  const int m_stallLimitMs;
};

}  // namespace zx
