#pragma once
// Sends every report as one message to a named interprocess message queue,
// for a controlling program on the same machine.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ipc/bounded_write.hpp"
#include "reporting/progress_reporter.hpp"

namespace zx {

class CMessageQueue;

class CBoostMqProgressReporter : public CProgressReporterBase {
 public:
  // Limits of a queue this reporter creates. 4096 bytes hold every message
  // the export sends (its longest, an error report quoting a driver message,
  // stays well below); longer ones are cut, never refused.
  static constexpr size_t kMaxMessages = 100;
  static constexpr size_t kMaxMessageSize = 4096;
  // How long a report waits on a full queue before it is dropped.
  static constexpr int kFullQueueWaitMs = kStalledReaderLimitMs;

  // Opens the queue `queueName` with its own limits, or creates it. Throws
  // CExportError when neither works (an invalid name, for example).
  explicit CBoostMqProgressReporter(std::string queueName, int fullQueueWaitMs = kFullQueueWaitMs);
  // Removes the queue by name, whoever created it: the reader sees the end.
  ~CBoostMqProgressReporter() override;

  void ReportProgress(int percent) override;
  void ReportInfo(const std::string& message) override;
  void ReportError(const std::string& message) override;

 private:
  void Send(std::string_view bytes) noexcept;

  std::string m_queueName;
  std::unique_ptr<CMessageQueue> m_queue;
  const int m_fullQueueWaitMs;
  // Set when a report was dropped on a full queue: nobody seems to read, so
  // later reports do not wait until a send succeeds again.
  bool m_readerStalled = false;
};

}  // namespace zx
