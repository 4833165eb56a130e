#include "export/new_reader.hpp"

#include <fmt/format.h>
#include <fmt/printf.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

#include "export/exporter.hpp"
#include "platform/odbc/source.hpp"
#include "platform/text.hpp"

namespace zx {

std::string BuildPlannedQuestionCondition(const std::string& dataTable,
                                          const std::vector<CPlannedQuestion>& questions) {
  std::string loopPart;
  std::string inList;
  for (const auto& question : questions) {
    if (question.inAdditionalTable) {
      loopPart +=
          fmt::sprintf(" OR (%s.QuestionID = %d AND %s.DataOrder BETWEEN %d AND %d)", dataTable,
                       question.code, dataTable, question.firstDataOrder, question.lastDataOrder);
    } else {
      inList += fmt::sprintf(",%d", question.code);
    }
  }
  if (!inList.empty()) {
    return fmt::sprintf("%s.QuestionID in (%s) %s", dataTable, inList.substr(1), loopPart);
  }
  if (!loopPart.empty()) return loopPart.substr(4);
  return {};
}

std::string BuildQuestionCondition(const std::string& dataTable,
                                   const std::vector<TableQuestion>& questions) {
  return BuildPlannedQuestionCondition(dataTable, PlanQuestions(questions));
}

std::string BuildPlannedRangeQuery(int32_t surveyId, const std::vector<CPlannedQuestion>& questions,
                                   const std::string& questionCondition,
                                   const std::string& filterClause, const CInterviewRange& range) {
  const std::string data = NewDataTableName(surveyId);
  const std::string interview = NewInterviewTableName(surveyId);
  std::vector<int32_t> codes;
  for (const auto& question : questions) codes.push_back(question.code);
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  std::string query = fmt::format(
      "SELECT {0}.* FROM {1} CROSS JOIN {0} WHERE {0}.InterviewID = {1}.InterviewID AND "
      "{1}.InterviewID BETWEEN {2} AND {3} AND {0}.QuestionID IN ({4}) AND ({5})",
      data, interview, range.first, range.last, fmt::join(codes, ","), questionCondition);
  if (!filterClause.empty()) query += fmt::format(" AND ({})", filterClause);
  return query;
}

std::string BuildTableRangeQuery(int32_t surveyId, const std::vector<TableQuestion>& questions,
                                 const std::string& questionCondition,
                                 const std::string& filterClause, const CInterviewRange& range) {
  return BuildPlannedRangeQuery(surveyId, PlanQuestions(questions), questionCondition, filterClause,
                                range);
}

std::string BuildInterviewRangeQuery(int32_t surveyId, const std::string& filterClause,
                                     const CInterviewRange& range) {
  std::string query = fmt::sprintf("SELECT * FROM %s WHERE [InterviewID] BETWEEN %d AND %d",
                                   NewInterviewTableName(surveyId), range.first, range.last);
  if (!filterClause.empty()) query += fmt::sprintf(" AND (%s)", filterClause);
  return query;
}

SourceRowLayout MakeSourceRowLayout(const CSourceRecordset& recordset,
                                    const InterviewFieldMap& interviewFields) {
  std::unordered_map<std::string, int> position;
  for (int i = 0; i < recordset.FieldCount(); ++i) position[recordset.FieldName(i)] = i;
  auto find = [&](const std::string& name) {
    auto it = position.find(name);
    return it == position.end() ? -1 : it->second;
  };
  SourceRowLayout layout;
  layout.interviewId = find("InterviewID");
  layout.questionId = find("QuestionID");
  layout.dataOrder = find("DataOrder");
  auto keep = [&](int column) {
    if (column < 0) return -1;
    layout.keptColumns.push_back(column);
    return static_cast<int>(layout.keptColumns.size()) - 1;
  };
  for (int n = 1;; ++n) {
    const int column = find(fmt::format("LoopID{}", n));
    if (column < 0) break;
    layout.loopIds.push_back(keep(column));
  }
  layout.closedData = keep(find("ClosedData"));
  layout.numericData = keep(find("NumericData"));
  layout.openData = keep(find("OpenData"));
  layout.duration = keep(find("Duration"));
  for (const auto& [source, target] : interviewFields) {
    const int column = find(source);
    if (column >= 0) layout.interviewFields.emplace_back(column, target);
  }
  return layout;
}

namespace {

int RequiredColumn(int column, const char* name) {
  if (column < 0) throw CMissingSourceColumn(name);
  return column;
}

int32_t RequiredInt(const CSourceRecordset& recordset, int column, const char* name) {
  const std::optional<int32_t> value = recordset.FieldInt32(RequiredColumn(column, name));
  // NULL fails as the value's conversion does.
  return value ? *value : recordset.FieldValue(column).ToInt32();
}

// Sorts a node's answers by (question, DataOrder), the later of two equal
// keys winning, and does the same below it.
void FinishNode(InterviewNode& node) {
  auto& entries = node.questions;
  auto byKey = [](const CQuestionEntry& a, const CQuestionEntry& b) {
    return a.questionId != b.questionId ? a.questionId < b.questionId : a.dataOrder < b.dataOrder;
  };
  if (!std::is_sorted(entries.begin(), entries.end(), byKey)) {
    std::stable_sort(entries.begin(), entries.end(), byKey);
  }
  // Keep the last of each run of equal keys: rows were appended in reading order.
  size_t kept = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const bool lastOfRun = i + 1 == entries.size() || byKey(entries[i], entries[i + 1]);
    if (lastOfRun) entries[kept++] = entries[i];
  }
  entries.resize(kept);
  for (auto& [value, child] : node.subLoops) FinishNode(child);
}

}  // namespace

int32_t ReadNewLayoutRows(CSourceRecordset& recordset, const InterviewFieldMap& interviewFields,
                          NewLayoutBatch& batch) {
  auto layout = std::make_shared<SourceRowLayout>(MakeSourceRowLayout(recordset, interviewFields));
  batch.layout = layout;
  batch.cells.Reset(layout->RowWidth());
  int32_t rowsRead = 0;
  int32_t currentId = 0;
  InterviewNode* interview = nullptr;
  for (; !recordset.IsEOF(); recordset.MoveNext()) {
    const int32_t id = RequiredInt(recordset, layout->interviewId, "InterviewID");
    // Rows of one interview mostly arrive together: skip the lookup then.
    if (interview == nullptr || id != currentId) {
      auto [it, inserted] = batch.interviews.try_emplace(id);
      interview = &it->second;
      currentId = id;
      if (inserted) {
        interview->interviewValues.reserve(layout->interviewFields.size());
        for (const auto& [column, field] : layout->interviewFields) {
          interview->interviewValues.push_back(recordset.FieldValue(column));
        }
      }
    }
    InterviewNode* node = interview;
    for (int slot : layout->loopIds) {
      const std::optional<int32_t> loopValue = recordset.FieldInt32(layout->keptColumns[slot]);
      if (!loopValue) break;
      node->hasSubLoop = true;
      node = &node->subLoops[*loopValue];
    }
    node->hasSubLoop = false;
    const int32_t dataOrder = RequiredInt(recordset, layout->dataOrder, "DataOrder");
    const int32_t questionId = RequiredInt(recordset, layout->questionId, "QuestionID");
    const auto row = static_cast<uint32_t>(batch.cells.RowCount());
    CValue* cells = batch.cells.AppendRow();
    for (int column : layout->keptColumns) *cells++ = recordset.FieldValueCopy(column);
    node->questions.push_back(CQuestionEntry{questionId, dataOrder, row});
    ++rowsRead;
  }
  for (auto& [id, node] : batch.interviews) FinishNode(node);
  return rowsRead;
}

void ReadInterviewValues(CSourceRecordset& recordset, const InterviewFieldMap& interviewFields,
                         NewLayoutBatch& batch) {
  const SourceRowLayout fields = MakeSourceRowLayout(recordset, interviewFields);
  auto layout = batch.layout ? std::make_shared<SourceRowLayout>(*batch.layout)
                             : std::make_shared<SourceRowLayout>();
  layout->interviewFields = fields.interviewFields;
  batch.layout = layout;
  const size_t count = fields.interviewFields.size();
  for (; !recordset.IsEOF(); recordset.MoveNext()) {
    const CValue& id = recordset.FieldValue(RequiredColumn(fields.interviewId, "InterviewID"));
    if (id.IsNull()) continue;
    auto it = batch.interviews.find(id.ToInt32());
    // Of repeated interview rows the first one counts; interviews without data are not written.
    if (it == batch.interviews.end() || !it->second.interviewValues.empty()) continue;
    std::vector<CValue>& values = it->second.interviewValues;
    values.reserve(count);
    for (const auto& [column, field] : fields.interviewFields) {
      values.push_back(recordset.FieldValue(column));
    }
  }
  for (auto& [id, interview] : batch.interviews) interview.interviewValues.resize(count);
}

int32_t ReadNewLayoutRange(const CNewLayoutPlan& plan, int32_t t, const std::string& condition,
                           const CInterviewRange& range, CSourceConnection& source,
                           NewLayoutBatch& batch) {
  const std::vector<CPlannedQuestion>& questions = plan.tables[static_cast<size_t>(t)];
  // Data columns only: the interview fields of the first table are read
  // once per interview, not with each of its rows.
  std::unique_ptr<CSourceRecordset> recordset = source.Execute(
      BuildPlannedRangeQuery(plan.surveyId, questions, condition, plan.filterClause, range));
  const int32_t rowsRead = ReadNewLayoutRows(*recordset, {}, batch);
  recordset->Close();
  if (t == 0 && !batch.interviews.empty()) {
    recordset = source.Execute(BuildInterviewRangeQuery(plan.surveyId, plan.filterClause, range));
    ReadInterviewValues(*recordset, NewLayoutInterviewFieldMap(), batch);
    recordset->Close();
  }
  return rowsRead;
}

CRangeReadAhead::CRangeReadAhead(const CNewLayoutPlan& plan,
                                 std::unique_ptr<CSourceConnection> source)
    : m_plan(plan), m_source(std::move(source)) {
  m_thread = std::thread([this] { Run(); });
}

CRangeReadAhead::~CRangeReadAhead() {
  {
    std::lock_guard lock(m_lock);
    m_stop = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void CRangeReadAhead::Start(int32_t t, const std::string& condition, const CInterviewRange& range) {
  {
    std::lock_guard lock(m_lock);
    m_job = CJob{t, condition, range};
    m_done = false;
  }
  m_changed.notify_all();
}

int32_t CRangeReadAhead::Take(NewLayoutBatch& batch) {
  std::unique_lock lock(m_lock);
  m_changed.wait(lock, [this] { return m_done; });
  m_done = false;
  if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
  batch = std::exchange(m_batch, NewLayoutBatch{});
  return m_rowsRead;
}

void CRangeReadAhead::Run() {
  std::unique_lock lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stop || m_job.has_value(); });
    if (m_stop) return;
    const CJob job = std::move(*std::exchange(m_job, std::nullopt));
    lock.unlock();
    NewLayoutBatch batch;
    int32_t rowsRead = 0;
    std::exception_ptr failure;
    try {
      rowsRead = ReadNewLayoutRange(m_plan, job.table, job.condition, job.range, *m_source, batch);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    m_batch = std::move(batch);
    m_rowsRead = rowsRead;
    m_failure = failure;
    m_done = true;
    m_changed.notify_all();
  }
}

bool ReadNewLayoutTable(const CNewLayoutPlan& plan, int32_t t, CSourceConnection& source,
                        TableSlot<NewLayoutBatch>& slot, CCancellableSemaphore& freeBatches,
                        CCancellableSemaphore& readyBatches, const InfoReport& info,
                        CRangeReadAhead* ahead) {
  info("[Read Thread] Opening SQL Table...");
  const std::string condition = BuildPlannedQuestionCondition(NewDataTableName(plan.surveyId),
                                                              plan.tables[static_cast<size_t>(t)]);
  if (!condition.empty()) {
    info(fmt::sprintf("[Read Thread] Begining Reads on SQL Table number %d", t + 1));
    const std::vector<CInterviewRange>& ranges = plan.ranges;
    size_t next = 0;  // planned ranges read, or handed to `ahead`
    size_t run = 0;
    int64_t rowsSoFar = 0;
    auto cut = [&] {
      run = NextRangeRun(rowsSoFar, next, run);
      const size_t end = std::min(ranges.size(), next + run);
      // The ids between two planned ranges fail the filter: spanning them reads nothing more.
      const CInterviewRange batchRange{ranges[next].first, ranges[end - 1].last};
      next = end;
      return batchRange;
    };
    while (next < ranges.size()) {
      const CInterviewRange mine = cut();
      const bool aheadReads = ahead != nullptr && next < ranges.size();
      // The batch read ahead takes its place in flight before either batch
      // is filled: the bound then holds for both readers, and no lock is
      // held while waiting for a place.
      if (aheadReads && !freeBatches.Acquire()) return false;
      CBatchFill<NewLayoutBatch> fill(slot, freeBatches, readyBatches);
      if (!fill.Begun()) return false;
      if (aheadReads) ahead->Start(t, condition, cut());
      const int32_t rowsRead = ReadNewLayoutRange(plan, t, condition, mine, source, fill.Batch());
      fill.Complete(rowsRead);
      rowsSoFar += rowsRead;
      if (aheadReads) {
        CBatchFill<NewLayoutBatch> theirs(slot, readyBatches);
        const int32_t theirRows = ahead->Take(theirs.Batch());
        theirs.Complete(theirRows);
        rowsSoFar += theirRows;
      }
    }
  }
  info(fmt::sprintf("[Read Thread] Done reading Table number %d", t + 1));
  return true;
}

// The read thread: every table in turn, one batch per interview-id range.

int CExporter::ReadTableFromSqlNew() {
  if (m_newLayoutPlan->ranges.size() > 1) {
    // Without a second connection the read thread reads every range itself.
    try {
      if (std::unique_ptr<CSourceConnection> second = ConnectSource())
        m_readAhead = std::make_unique<CRangeReadAhead>(*m_newLayoutPlan, std::move(second));
    } catch (...) {
    }
  }
  const int result =
      RunReadThread("CExporter::ReadTableFromSqlNew", &CExporter::ReadNewLayoutTable);
  m_readAhead.reset();
  return result;
}

bool CExporter::ReadNewLayoutTable(int32_t t) {
  return zx::ReadNewLayoutTable(
      *m_newLayoutPlan, t, *m_sourceConnection, *m_dataTableSlots[t], *m_freeBatches,
      *m_readyBatches, [this](const std::string& m) { ReportInfo(m); }, m_readAhead.get());
}

}  // namespace zx
