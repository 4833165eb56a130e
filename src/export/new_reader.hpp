#pragma once
// The new-layout read side: the queries of one response table and the
// indexing of their rows into a batch's interview tree.
#include <cstdint>
#include <string>
#include <vector>

#include "export/interview_tree.hpp"
#include "export/new_planning.hpp"
#include "export/settings.hpp"

namespace zx {

class CSourceRecordset;

// The condition selecting a table's questions: an IN list of the whole
// questions, OR-joined DataOrder ranges of the split ones. Empty when the
// table has no question to read.
std::string BuildQuestionCondition(const std::string& dataTable,
                                   const std::vector<TableQuestion>& questions);

// The data rows of one table's questions in one interview-id range, data
// columns only, restricted by the filter clause when set. The range is put on
// the interview table and the table's question codes are listed once more
// in an IN (implied by the condition), so that each interview's rows are
// sought by (InterviewID, QuestionID) rather than scanned whole per table.
std::string BuildTableRangeQuery(int32_t surveyId, const std::vector<TableQuestion>& questions,
                                 const std::string& questionCondition,
                                 const std::string& filterClause, const CInterviewRange& range);

// The interview rows of one id range passing the filter clause, when set.
std::string BuildInterviewRangeQuery(int32_t surveyId, const std::string& filterClause,
                                     const CInterviewRange& range);

// The column layout of `recordset`'s rows.
SourceRowLayout MakeSourceRowLayout(const CSourceRecordset& recordset,
                                    const InterviewFieldMap& interviewFields);

// Reads every remaining row of `recordset` into `batch` (which holds no rows
// yet) and leaves each node's answers sorted, a later row replacing an
// earlier one with the same interview, loop path, question and DataOrder.
// Returns the number of rows read. Throws CExportError for a value that is
// not an integer where one is needed, CMissingSourceColumn for a row without
// InterviewID, QuestionID or DataOrder.
int32_t ReadNewLayoutRows(CSourceRecordset& recordset, const InterviewFieldMap& interviewFields,
                          NewLayoutBatch& batch);

// Gives each interview of `batch` (read without interview columns) the mapped
// fields of its first row in `recordset`, rows of the interview table; an
// interview without a row there gets NULLs.
void ReadInterviewValues(CSourceRecordset& recordset, const InterviewFieldMap& interviewFields,
                         NewLayoutBatch& batch);

}  // namespace zx
