#include "reporting/pipe_reporter.hpp"

#include "reporting/wire_format.hpp"

namespace zx {

CNamedPipeProgressReporter::CNamedPipeProgressReporter(std::string pipeName, int stallLimitMs)
    : m_pipeName(CPipeChannel::PathForName(pipeName)), m_stallLimitMs(stallLimitMs) {
  m_pipe.Connect(m_pipeName);
}

void CNamedPipeProgressReporter::ReportProgress(int percent) {
  char buffer[5];
  m_pipe.Send(buffer, FormatProgressMessage(percent, buffer), m_stallLimitMs);
}

void CNamedPipeProgressReporter::ReportInfo(const std::string& message) {
  if (!m_pipe.IsConnected()) return;
  try {
    const std::string bytes = FormatTextMessage("Info: ", message);
    m_pipe.Send(bytes.data(), bytes.size(), m_stallLimitMs);
  } catch (...) {
  }
}

void CNamedPipeProgressReporter::ReportError(const std::string& message) {
  if (!m_pipe.IsConnected()) return;
  try {
    const std::string bytes = FormatTextMessage("Error: ", message);
    m_pipe.Send(bytes.data(), bytes.size(), m_stallLimitMs);
  } catch (...) {
  }
}

}  // namespace zx
