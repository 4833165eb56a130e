#include "export/new_planning.hpp"

#include <fmt/printf.h>

#include <algorithm>

#include "export/pipeline.hpp"
#include "platform/odbc/source.hpp"
#include "platform/text.hpp"
#include "surveylib/interview_fields.hpp"
#include "surveylib/questionnaire.hpp"
#include "surveylib/survey_names.hpp"

namespace zx {

std::string NewDataTableName(int32_t surveyId) {
  return Bracketed(NewLayoutDataTableName(surveyId));
}

std::string NewInterviewTableName(int32_t surveyId) {
  return Bracketed(NewLayoutInterviewTableName(surveyId));
}

namespace {

// The parts of a filter in their order, joined by " AND ": the completion
// condition, then the exclusive start bounds on `startColumn`.
std::string JoinFilterParts(std::string clause, const char* startColumn,
                            const std::optional<CCalendarDate>& minStart,
                            const std::optional<CCalendarDate>& maxStart,
                            const CSourceConnection& source) {
  if (!clause.empty() && (minStart || maxStart)) clause += " AND ";
  if (minStart) {
    clause += fmt::sprintf("%s > %s", startColumn, source.DateBound(*minStart));
    if (maxStart) clause += " AND ";
  }
  if (maxStart) clause += fmt::sprintf("%s < %s", startColumn, source.DateBound(*maxStart));
  return clause;
}

}  // namespace

std::string BuildInterviewFilterClause(CompletionFilter completion,
                                       const std::optional<CCalendarDate>& minStart,
                                       const std::optional<CCalendarDate>& maxStart,
                                       const CSourceConnection& source) {
  std::string clause;
  if (completion == CompletionFilter::COMPLETE || completion == CompletionFilter::INCOMPLETE) {
    clause = fmt::sprintf("Completed %s 0", completion == CompletionFilter::COMPLETE ? "<>" : "=");
  }
  return JoinFilterParts(clause, "StartInterview", minStart, maxStart, source);
}

std::string BuildLegacyFilterClause(CompletionFilter completion,
                                    const std::optional<CCalendarDate>& minStart,
                                    const std::optional<CCalendarDate>& maxStart,
                                    const CSourceConnection& source) {
  std::string clause;
  if (completion != CompletionFilter::NONE) {
    clause = fmt::sprintf("Completed = %d", completion == CompletionFilter::COMPLETE ? 1 : 0);
  }
  return JoinFilterParts(clause, "DebutInterview", minStart, maxStart, source);
}

CPlannedQuestion PlanQuestion(const TableQuestion& question) {
  // Codes come from the questionnaire's integer ids and the bounds from its
  // AdditionalTables text; reading them as numbers keeps anything else out
  // of the SQL.
  CPlannedQuestion planned{LeadingInt(question.code), question.inAdditionalTable, 0, 0};
  if (question.inAdditionalTable) {
    planned.firstDataOrder = LeadingInt(question.firstDataOrder);
    planned.lastDataOrder = LeadingInt(question.lastDataOrder);
  }
  return planned;
}

std::vector<CPlannedQuestion> PlanQuestions(const std::vector<TableQuestion>& questions) {
  std::vector<CPlannedQuestion> planned;
  planned.reserve(questions.size());
  for (const TableQuestion& question : questions) planned.push_back(PlanQuestion(question));
  return planned;
}

std::string BuildQuestionList(const std::vector<std::vector<CPlannedQuestion>>& tables) {
  std::string list;
  for (const auto& table : tables) {
    for (const auto& question : table) list += fmt::format(",{}", question.code);
  }
  if (!list.empty()) list.erase(0, 1);
  return list;
}

std::string BuildQuestionList(const std::vector<std::vector<TableQuestion>>& tableQuestions) {
  std::vector<std::vector<CPlannedQuestion>> tables;
  for (const auto& table : tableQuestions) tables.push_back(PlanQuestions(table));
  return BuildQuestionList(tables);
}

namespace {

std::optional<int32_t> OptionalInt(const CValue& value) {
  if (value.IsNull()) return std::nullopt;
  return value.ToInt32();
}

std::string WhereClause(const std::string& filterClause) {
  return filterClause.empty() ? "" : fmt::sprintf(" WHERE %s", filterClause);
}

}  // namespace

CNewLayoutCounts CountNewLayoutSource(CSourceConnection& source, const InfoReport& info,
                                      int32_t surveyId, const std::string& questionList,
                                      const std::string& filterClause) {
  const std::string data = NewDataTableName(surveyId);
  const std::string interview = NewInterviewTableName(surveyId);
  const std::string where = WhereClause(filterClause);
  CNewLayoutCounts counts;

  info("Getting total number of rows...");
  std::string rowQuery = fmt::sprintf(
      "SELECT COUNT(*) AS RecordCount FROM %s JOIN %s ON %s.InterviewID = %s.InterviewID WHERE "
      "QuestionID IN (%s)",
      data, interview, data, interview, questionList);
  if (!filterClause.empty()) rowQuery += fmt::sprintf(" AND %s", filterClause);
  counts.rowCount = OptionalInt(source.QueryScalar(rowQuery)).value_or(0);
  info(fmt::sprintf("The total number of rows is %d\n", counts.rowCount));

  info("Getting total number of interviews...");
  counts.interviewCount =
      OptionalInt(source.QueryScalar("SELECT COUNT(*) AS InterviewCount FROM " + interview + where))
          .value_or(0);
  info(fmt::sprintf("The total number of interviews is %d\n", counts.interviewCount));

  counts.maxInterviewId = OptionalInt(
      source.QueryScalar("SELECT MAX([InterviewID]) AS MaxInterviewId FROM " + interview + where));
  info(fmt::sprintf("The biggest interview id is %d\n", counts.maxInterviewId.value_or(0)));
  return counts;
}

std::vector<int32_t> ReadPassingInterviewIds(CSourceConnection& source, int32_t surveyId,
                                             const std::string& filterClause) {
  std::unique_ptr<CSourceRecordset> recordset =
      source.Execute("SELECT [InterviewID] FROM " + NewInterviewTableName(surveyId) +
                     WhereClause(filterClause) + " ORDER BY [InterviewID]");
  std::vector<int32_t> ids;
  for (; !recordset->IsEOF(); recordset->MoveNext()) {
    // A NULL id joins no data row: there is nothing to read for it.
    const CValue& value = recordset->FieldValue(0);
    if (!value.IsNull()) ids.push_back(value.ToInt32());
  }
  recordset->Close();
  return ids;
}

std::vector<CInterviewRange> PlanInterviewRanges(const std::vector<int32_t>& ids, int32_t rowCount,
                                                 int32_t interviewCount) {
  // With fewer rows than interviews the quotient is 0: an interview then
  // counts as one row.
  const int32_t rowsPerInterview = interviewCount > 0 ? std::max(rowCount / interviewCount, 1) : 1;
  const size_t perRange = std::max(TargetRowsPerBatch / rowsPerInterview, 1);
  std::vector<CInterviewRange> ranges;
  ranges.reserve(ids.size() / perRange + 1);
  for (size_t begin = 0; begin < ids.size();) {
    size_t end = std::min(ids.size(), begin + perRange);
    // An id repeated across the cut would be read by two ranges.
    while (end < ids.size() && ids[end] == ids[end - 1]) ++end;
    ranges.push_back(CInterviewRange{ids[begin], ids[end - 1]});
    begin = end;
  }
  return ranges;
}

size_t NextRangeRun(int64_t rowsSoFar, size_t rangesSoFar, size_t lastRun) {
  if (lastRun == 0 || rangesSoFar == 0) return 1;
  const size_t limit = 2 * lastRun;
  if (rowsSoFar <= 0) return limit;
  const double rowsPerRange = static_cast<double>(rowsSoFar) / static_cast<double>(rangesSoFar);
  const double fitting = static_cast<double>(TableBatchRows) / rowsPerRange;
  if (fitting >= static_cast<double>(limit)) return limit;
  return std::max<size_t>(static_cast<size_t>(fitting), 1);
}

const InterviewFieldMap& NewLayoutInterviewFieldMap() {
  static const InterviewFieldMap map = [] {
    InterviewFieldMap fields;
    for (const CInterviewField& field : kInterviewFields)
      fields.emplace(field.sourceColumn, field.targetField);
    return fields;
  }();
  return map;
}

}  // namespace zx
