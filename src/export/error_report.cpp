#include "export/error_report.hpp"

#include <exception>
#include <mutex>

#include "export/exporter.hpp"
#include "platform/error.hpp"

namespace zx {

std::string DescribeCaughtException(std::string_view location, std::string_view trailer) {
  try {
    throw;
  } catch (const CExportError& error) {
    std::string message = FormatErrorReport(location, error);
    message += trailer;
    return message;
  } catch (...) {
    return std::string(location);
  }
}

// The reporter may be absent only in a half-built exporter; a report then goes nowhere.
void CExporter::ReportInfo(const std::string& message) {
  std::lock_guard progress(m_progressLock);
  if (m_settings.reporter) m_settings.reporter->ReportInfo(message);
}

void CExporter::ReportError(const std::string& message) {
  std::lock_guard progress(m_progressLock);
  if (m_settings.reporter) m_settings.reporter->ReportError(message);
}

void CExporter::ReportProgress(int percent) {
  std::lock_guard progress(m_progressLock);
  if (m_settings.reporter) m_settings.reporter->ReportProgress(percent);
}

void CExporter::ReportCaughtException(std::string_view location, std::string_view trailer) {
  ReportError(DescribeCaughtException(location, trailer));
}

}  // namespace zx
