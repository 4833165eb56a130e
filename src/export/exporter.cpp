// CExporter construction and destruction: the option texts become the export
// settings and the reporter.
#include <stdexcept>

#include "export/exporter.hpp"
#include "platform/dates.hpp"
#include "platform/odbc/connection_string.hpp"
#include "platform/text.hpp"
#include "reporting/console_reporter.hpp"
#include "reporting/mq_reporter.hpp"
#include "reporting/pipe_reporter.hpp"

namespace zx {
namespace {

std::optional<CCalendarDate> ParseDateOption(const char* option, const std::string& text) {
  if (text.empty()) return std::nullopt;
  auto date = ParseDayMonthYear(text);
  if (!date) {
    throw std::invalid_argument("Invalid " + std::string(option) + " '" + text +
                                "': expected a date as dd/mm/yyyy");
  }
  return date;
}

}  // namespace

CExporter::CExporter(std::string source, std::string format, std::string connectString,
                     std::string surveyId, std::string target, std::string progressMode,
                     std::string pipeName, std::string completion, std::string minStartDate,
                     std::string maxStartDate) {
  m_settings.sourceFile = std::move(source);
  m_settings.connectString = std::move(connectString);
  m_settings.surveyId = LeadingInt(surveyId);
  m_settings.targetFile = std::move(target);
  m_settings.minStartDate = std::move(minStartDate);
  m_settings.maxStartDate = std::move(maxStartDate);
  m_sourceConnector = [](const std::string& text) {
    return ConnectOdbc(text, kSourceQueryTimeoutSeconds);
  };

  if (format == "LEGACY") {
    m_settings.sqlFormat = SqlFormat::LEGACY;
  } else if (format == "NEW") {
    m_settings.sqlFormat = SqlFormat::NEW;
  } else {
    throw std::invalid_argument("Invalid Sql Format");
  }

  ProgressReportMode mode = ProgressReportMode::PROGRESS_MODE_NOT_SET;
  if (progressMode == "CONSOLE") {
    mode = ProgressReportMode::CONSOLE;
  } else if (progressMode == "BOOST_MQ") {
    mode = ProgressReportMode::BOOST_MQ;
  } else if (progressMode == "NAMED_PIPE") {
    mode = ProgressReportMode::NAMED_PIPE;
  } else {
    throw std::invalid_argument("Invalid Progress Report Mode");
  }

  if (completion == "COMPLETE") {
    m_settings.completionFilter = CompletionFilter::COMPLETE;
  } else if (completion == "INCOMPLETE") {
    m_settings.completionFilter = CompletionFilter::INCOMPLETE;
  } else {
    m_settings.completionFilter = CompletionFilter::NONE;
  }

  // Checked before the reporter exists: a rejected date leaves no queue
  // behind and no listener connected.
  m_settings.minStartBound = ParseDateOption("minstartdate", m_settings.minStartDate);
  m_settings.maxStartBound = ParseDateOption("maxstartdate", m_settings.maxStartDate);
  if (m_settings.sourceFile.empty()) {
    throw std::invalid_argument(
        "The option --source is empty: give the path of the source ZUV file");
  }
  if (m_settings.targetFile.empty()) {
    throw std::invalid_argument(
        "The option --target is empty: give the path of the target ZUV file");
  }
  // Callers write ADO strings; from here on the source is reached through
  // the ODBC string they translate to.
  m_settings.connectString = ToOdbcConnectionString(m_settings.connectString);

  m_settings.progressMode = mode;
  switch (mode) {
    case ProgressReportMode::BOOST_MQ:
      m_settings.reporter = std::make_unique<CBoostMqProgressReporter>(pipeName);
      break;
    case ProgressReportMode::NAMED_PIPE:
      m_settings.reporter = std::make_unique<CNamedPipeProgressReporter>(pipeName);
      break;
    default:
      m_settings.reporter = std::make_unique<CConsoleProgressReporter>();
      break;
  }
}

CExporter::~CExporter() {
  // The source goes first (the engine's end), then the reporter, which
  // closes or removes the queue or pipe.
  m_sourceRecordset.reset();
  m_sourceConnection.reset();
  m_settings.reporter.reset();
}

}  // namespace zx
