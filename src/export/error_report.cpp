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

// Once a stop was requested, failures are its consequences (interrupted
// statements, cancelled waits): the one report is "Export interrupted".
void CExporter::ReportError(const std::string& message) {
  if (InterruptionSignal() != 0) return;
  std::lock_guard progress(m_progressLock);
  if (!m_settings.reporter) return;
  std::string shown = message;
  for (const auto& [privatePath, shownAs] : m_shownPaths) {
    for (size_t at = shown.find(privatePath); at != std::string::npos;
         at = shown.find(privatePath, at + shownAs.size())) {
      shown.replace(at, privatePath.size(), shownAs);
    }
  }
  m_settings.reporter->ReportError(shown);
}

void CExporter::ReportInterrupted() {
  std::lock_guard progress(m_progressLock);
  if (m_settings.reporter) m_settings.reporter->ReportError("Export interrupted");
}

void CExporter::ShowPathAs(const std::string& privatePath, const std::string& shownAs) {
  std::lock_guard progress(m_progressLock);
  for (auto& entry : m_shownPaths) {
    if (entry.first == privatePath) {
      entry.second = shownAs;
      return;
    }
  }
  m_shownPaths.emplace_back(privatePath, shownAs);
}

void CExporter::ReportProgress(int percent) {
  std::lock_guard progress(m_progressLock);
  if (m_settings.reporter) m_settings.reporter->ReportProgress(percent);
}

void CExporter::ReportCaughtException(std::string_view location, std::string_view trailer) {
  try {
    throw;
  } catch (const CMissingSourceColumn& missing) {
    // The bare location, as for any other exception, then what was missing.
    ReportError(std::string(location));
    ReportError(missing.what());
  } catch (...) {
    ReportError(DescribeCaughtException(location, trailer));
  }
}

}  // namespace zx
