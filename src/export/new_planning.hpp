#pragma once
// Planning of a new-layout export: which interviews, which questions, how
// many rows, and the interview-id ranges each table is read in.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "export/settings.hpp"

namespace zx {

class CQuestionnaire;
class CSourceConnection;

using InfoReport = std::function<void(const std::string&)>;

// "[Orvix%04ldData]" and "[Orvix%04ldInterview]".
std::string NewDataTableName(int32_t surveyId);
std::string NewInterviewTableName(int32_t surveyId);

// The SQL condition on interview columns for the completion filter and the
// two exclusive start-date bounds; empty when nothing is filtered. The bounds
// are the parsed dates, written in the server's dialect.
std::string BuildInterviewFilterClause(CompletionFilter completion,
                                       const std::optional<CCalendarDate>& minStart,
                                       const std::optional<CCalendarDate>& maxStart,
                                       const CSourceConnection& source);
// The same filter on the first legacy response table, in that layout's own
// texts: "Completed = 1" or "Completed = 0", bounds on DebutInterview.
std::string BuildLegacyFilterClause(CompletionFilter completion,
                                    const std::optional<CCalendarDate>& minStart,
                                    const std::optional<CCalendarDate>& maxStart,
                                    const CSourceConnection& source);

// One question, or one DataOrder range of it, of a response table: the
// numbers of a TableQuestion read once by LeadingInt. Only these integers
// reach the SQL of the read side.
struct CPlannedQuestion {
  int32_t code = 0;
  bool inAdditionalTable = false;
  int32_t firstDataOrder = 0;  // set with inAdditionalTable
  int32_t lastDataOrder = 0;
};
CPlannedQuestion PlanQuestion(const TableQuestion& question);
std::vector<CPlannedQuestion> PlanQuestions(const std::vector<TableQuestion>& questions);

// Every entry's code, tables in order, comma-separated (repeats kept).
std::string BuildQuestionList(const std::vector<std::vector<CPlannedQuestion>>& tables);
std::string BuildQuestionList(const std::vector<std::vector<TableQuestion>>& tableQuestions);

struct CNewLayoutCounts {
  int32_t rowCount = 0;
  int32_t interviewCount = 0;
  // Absent when no interview passes the filter.
  std::optional<int32_t> maxInterviewId;
};

// Runs the counting queries and reports their messages. Throws CExportError
// for a failing query.
CNewLayoutCounts CountNewLayoutSource(CSourceConnection& source, const InfoReport& info,
                                      int32_t surveyId, const std::string& questionList,
                                      const std::string& filterClause);

// Interview-id ranges, both ends inclusive.
struct CInterviewRange {
  int64_t first = 0;
  int64_t last = 0;
  bool operator==(const CInterviewRange&) const = default;
};

// The ids of the interviews passing the filter, ascending. Throws
// CExportError for a failing query.
std::vector<int32_t> ReadPassingInterviewIds(CSourceConnection& source, int32_t surveyId,
                                             const std::string& filterClause);

// The ranges every table pass reads: `ids` (ascending) cut into consecutive
// runs of TargetRowsPerBatch / (rows per interview) interviews, at least one,
// an interview counting as one row at least. A range runs from the first to
// the last id of its run, so thinly spread ids cost no empty queries. The
// ranges are ascending and disjoint (equal ids stay in one range); none for
// no id.
std::vector<CInterviewRange> PlanInterviewRanges(const std::vector<int32_t>& ids, int32_t rowCount,
                                                 int32_t interviewCount);

// How many consecutive planned ranges a table pass reads as its next batch:
// as many as hold about TableBatchRows of the table's own rows, by the
// `rowsSoFar` it read in its first `rangesSoFar` ranges, at most twice the
// last batch's `lastRun` (a table denser further on outgrows its batches
// only step by step), and at least one. The planned ranges aim at
// TargetRowsPerBatch rows of all tables together; a table holding a tenth of
// them would otherwise pay a query for every thousand of its rows.
size_t NextRangeRun(int64_t rowsSoFar, size_t rangesSoFar, size_t lastRun);

// What a new-layout export reads, decided once on the main thread before the
// read thread starts and never changed after: the read thread and the writer
// share it as a pointer to const, with no lock.
struct CNewLayoutPlan {
  int32_t surveyId = 0;
  // The interview filter (BuildInterviewFilterClause); empty: none.
  std::string filterClause;
  std::vector<std::vector<CPlannedQuestion>> tables;  // index: table number - 1
  int32_t rowCount = 0;                               // of the counting query
  int32_t interviewCount = 0;
  std::vector<CInterviewRange> ranges;  // read by every table pass
};

// Source column of the interview table -> field of the first response table.
using InterviewFieldMap = std::map<std::string, std::string>;
const InterviewFieldMap& NewLayoutInterviewFieldMap();

}  // namespace zx
