#pragma once
// The converted command-line options and the shared per-table question list.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dates.hpp"
#include "platform/value.hpp"
#include "reporting/progress_reporter.hpp"

namespace zx {

enum class SqlFormat { SQL_FORMAT_NOT_SET = 0, LEGACY = 1, NEW = 2 };
enum class ProgressReportMode {
  PROGRESS_MODE_NOT_SET = 0,
  CONSOLE = 1,
  BOOST_MQ = 2,
  NAMED_PIPE = 3
};
enum class CompletionFilter { NONE = 0, COMPLETE = 1, INCOMPLETE = 2 };

struct ExportSettings {
  std::string sourceFile;
  SqlFormat sqlFormat = SqlFormat::SQL_FORMAT_NOT_SET;
  std::string connectString;  // for ODBC: a caller's ADO string comes translated
  int32_t surveyId = 0;
  std::string targetFile;
  ProgressReportMode progressMode = ProgressReportMode::PROGRESS_MODE_NOT_SET;
  std::unique_ptr<CProgressReporterBase> reporter;
  CompletionFilter completionFilter = CompletionFilter::NONE;
  std::string minStartDate;  // the option text; empty: no bound
  std::string maxStartDate;
  // The date texts checked and parsed by the constructor; set when the text is.
  std::optional<CCalendarDate> minStartBound;
  std::optional<CCalendarDate> maxStartBound;
};

// The parsed start-date bound of an option `text`. The constructor parsed
// every date it accepted, so a text without its date never reaches the SQL:
// that throws CExportError.
const std::optional<CCalendarDate>& CheckedStartBound(const std::optional<CCalendarDate>& bound,
                                                      const std::string& text);

// One question (or one DataOrder range of it) stored in one response table.
struct TableQuestion {
  std::string code;          // CodeQuestion in decimal
  int16_t questionType = 0;  // TypeQuestion; new layout only
  CValue maxResponses;       // NbMaxReponse as read
  bool inAdditionalTable = false;
  std::string firstDataOrder;  // the two parts of the AdditionalTables token
  std::string lastDataOrder;
};

}  // namespace zx
