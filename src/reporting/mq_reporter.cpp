#include "reporting/mq_reporter.hpp"

#include "platform/ipc/message_queue.hpp"
#include "platform/text.hpp"
#include "reporting/wire_format.hpp"

namespace zx {

CBoostMqProgressReporter::CBoostMqProgressReporter(std::string queueName, int fullQueueWaitMs)
    : m_queueName(std::move(queueName)), m_fullQueueWaitMs(fullQueueWaitMs) {
  m_queue =
      CMessageQueue::OpenOrCreate(ToLocaleCharset(m_queueName), kMaxMessages, kMaxMessageSize);
}

CBoostMqProgressReporter::~CBoostMqProgressReporter() {
  try {
    // Closed first: Windows keeps the name of a queue this process still has open.
    m_queue.reset();
    CMessageQueue::Remove(ToLocaleCharset(m_queueName));
  } catch (...) {
  }
}

void CBoostMqProgressReporter::ReportProgress(int percent) {
  char buffer[5];
  Send(std::string_view(buffer, FormatProgressMessage(percent, buffer)));
}

void CBoostMqProgressReporter::ReportInfo(const std::string& message) {
  try {
    Send(FormatTextMessage("Info: ", message));
  } catch (...) {
  }
}

void CBoostMqProgressReporter::ReportError(const std::string& message) {
  try {
    Send(FormatTextMessage("Error: ", message));
  } catch (...) {
  }
}

void CBoostMqProgressReporter::Send(std::string_view bytes) noexcept {
  try {
    // A queue created by the reader may have a smaller limit than ours: the
    // report is cut to it and still ends with a line feed, so the reader
    // keeps its line framing.
    const size_t limit = m_queue->MaxMessageSize();
    if (limit == 0) return;
    std::string cut;
    if (bytes.size() > limit) {
      cut.assign(bytes.substr(0, limit));
      cut.back() = '\n';
      bytes = cut;
    }
    const bool sent =
        m_queue->Send(bytes.data(), bytes.size(), m_readerStalled ? 0 : m_fullQueueWaitMs);
    m_readerStalled = !sent;
  } catch (...) {
    // A report never fails the export.
  }
}

}  // namespace zx
