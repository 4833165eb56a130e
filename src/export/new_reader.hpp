#pragma once
// The new-layout read side: the queries of one response table and the
// indexing of their rows into a batch's interview tree.
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "export/interview_tree.hpp"
#include "export/new_planning.hpp"
#include "export/pipeline.hpp"
#include "export/settings.hpp"

namespace zx {

class CSourceConnection;
class CSourceRecordset;

// The condition selecting a table's questions: an IN list of the whole
// questions, OR-joined DataOrder ranges of the split ones. Empty when the
// table has no question to read.
std::string BuildPlannedQuestionCondition(const std::string& dataTable,
                                          const std::vector<CPlannedQuestion>& questions);
std::string BuildQuestionCondition(const std::string& dataTable,
                                   const std::vector<TableQuestion>& questions);

// The data rows of one table's questions in one interview-id range, data
// columns only, restricted by the filter clause when set. The range is put on
// the interview table and the table's question codes are listed once more
// in an IN (implied by the condition), so that each interview's rows are
// sought by (InterviewID, QuestionID) rather than scanned whole per table.
std::string BuildPlannedRangeQuery(int32_t surveyId, const std::vector<CPlannedQuestion>& questions,
                                   const std::string& questionCondition,
                                   const std::string& filterClause, const CInterviewRange& range);
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

// One planned range of table `t` into `batch` (which holds no rows yet): its
// data rows, then, for the first table, the interview fields. Returns the
// rows read; throws as ReadNewLayoutRows and the queries do.
int32_t ReadNewLayoutRange(const CNewLayoutPlan& plan, int32_t t, const std::string& condition,
                           const CInterviewRange& range, CSourceConnection& source,
                           NewLayoutBatch& batch);

// A second source connection reading one range ahead, on a thread of its
// own, while the read thread reads the range before it: each pass over a
// table then costs the driver's time on two cores, not one. The batches
// still reach the writer in range order, each range read once, by one of
// the two. Thread: driven by the read thread alone; plan and connection
// outlive it.
class CRangeReadAhead {
 public:
  CRangeReadAhead(const CNewLayoutPlan& plan, std::unique_ptr<CSourceConnection> source);
  // Stops after the range in hand (its result is dropped) and joins.
  ~CRangeReadAhead();
  CRangeReadAhead(const CRangeReadAhead&) = delete;
  CRangeReadAhead& operator=(const CRangeReadAhead&) = delete;

  // Starts reading `range` of table t. REQUIRES: the range started before was taken.
  void Start(int32_t t, const std::string& condition, const CInterviewRange& range);
  // Waits for the range started last and moves its rows into `batch`
  // (which holds none); returns their count or rethrows its failure.
  int32_t Take(NewLayoutBatch& batch);

 private:
  struct CJob {
    int32_t table = 0;
    std::string condition;
    CInterviewRange range;
  };
  void Run();

  const CNewLayoutPlan& m_plan;
  std::unique_ptr<CSourceConnection> m_source;  // the helper thread's alone
  std::mutex m_lock;
  std::condition_variable m_changed;
  // Guarded by m_lock: the job asked for, then its outcome.
  std::optional<CJob> m_job;
  bool m_done = false;
  bool m_stop = false;
  NewLayoutBatch m_batch;
  int32_t m_rowsRead = 0;
  std::exception_ptr m_failure;
  std::thread m_thread;
};

// The read thread's pass over table `t` (zero-based) of `plan`: one batch of
// `slot` per planned range, each read with one query, the interview fields
// of the first table with one more. `info` reports under the caller's
// progress lock. Returns false when the hand-over was cancelled (the writer
// reports why); throws what the queries and ReadNewLayoutRows throw.
// Thread: the read thread; `plan` is shared read-only with the writer.
// With `ahead`, every second batch is read by it, and holds its place among
// the batches in flight while it is read (so two must fit).
bool ReadNewLayoutTable(const CNewLayoutPlan& plan, int32_t t, CSourceConnection& source,
                        TableSlot<NewLayoutBatch>& slot, CCancellableSemaphore& freeBatches,
                        CCancellableSemaphore& readyBatches, const InfoReport& info,
                        CRangeReadAhead* ahead = nullptr);

}  // namespace zx
