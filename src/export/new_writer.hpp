#pragma once
// The new-layout write side: pivots each batch's interview tree into one
// target row per interview and loop iteration.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "export/interview_tree.hpp"

namespace zx {

class CQuestionnaire;
class CZuvRecordset;

// One writer serves a whole export, on the main thread: the loop orders it
// records in one table serve the tables after it.
//
// Loop orders: the iteration of a loop over answers takes as Ordre the
// DataOrder at which its loop-defining question stored the iteration's value,
// in the same interview and the same enclosing iteration. Those answers may
// sit in an earlier response table than the loop's questions, or in the same
// one: a node's own answers are written (and their orders recorded) before
// its sub-loops. An order that is not known when the iteration is written
// leaves its Ordre empty, which is reported once.
// A write error was reported; the export ends with failure.
struct CWriteFailed : std::exception {
  const char* what() const noexcept override { return "a write error was reported"; }
};

class CNewLayoutWriter {
 public:
  using Report = std::function<void(const std::string&)>;
  // `info` and `error` report under the exporter's progress lock.
  CNewLayoutWriter(const CQuestionnaire& questionnaire, Report info, Report error);

  // REQUIRES: `table` is the open "ORV Reponse<tableNumber>" and outlives EndTable().
  // Every row added stores EmptyResponseValue in those of `emptyFields` it
  // leaves empty (unset or NULL); names the table lacks are ignored.
  void BeginTable(CZuvRecordset& table, int32_t tableNumber,
                  const std::vector<std::string>& emptyFields = {});
  // Writes one target row per node holding answers: a node's own answers
  // give one row at its level, each deeper iteration its own rows. Returns
  // false after reporting a write error; the
  // values of `batch` may have been moved out. Throws CMissingSourceColumn
  // when a column the rows need is absent.
  bool WriteBatch(NewLayoutBatch& batch);
  void EndTable();

  // The question codes of every table (index: table number - 1). With them,
  // the loop orders of an interview that no later table needs are released
  // once the interview is written; without, every order is kept.
  void SetTableQuestions(std::vector<std::vector<int32_t>> tableQuestionIds);

 private:
  struct CQuestionInfo {
    bool definesLoop = false;     // a loop element: its answers are loop values
    bool writeLoopValue = false;  // such an answer is also written (loops over answers or counts)
    int32_t enclosingLoop = 0;    // nearest loop element above the question; 0 when none
    bool numberedLoop = false;    // that loop numbers its iterations: Ordre is the loop value
  };
  const CQuestionInfo& Info(int32_t questionId);
  int FieldPosition(const std::string& name);
  int ResponsePosition(int32_t questionId, int32_t dataOrder);
  void SetRequiredField(const std::string& name, CValue value);
  // SetField on a response field, noting whether it holds a value now.
  void SetResponseField(int position, CValue value);

  bool WriteNode(NewLayoutBatch& batch, int32_t interviewId, const InterviewNode& interview,
                 const InterviewNode& node);
  bool WriteRow(NewLayoutBatch& batch, int32_t interviewId, const InterviewNode& interview,
                const InterviewNode& node);
  void RecordLoopOrders(const NewLayoutBatch& batch, int32_t interviewId,
                        const InterviewNode& node);
  void ReportUnknownOrder(int32_t interviewId, int32_t loopQuestion, int32_t loopValue);

  const CQuestionnaire& m_questionnaire;
  Report m_info;
  Report m_error;

  CZuvRecordset* m_table = nullptr;
  int32_t m_tableNumber = 0;
  std::unordered_map<std::string, int> m_namedFields;         // this table's; -1: absent
  std::unordered_map<uint64_t, int> m_responseFields;         // (question, DataOrder) -> position
  std::unordered_map<int32_t, CQuestionInfo> m_questionInfo;  // whole export
  std::vector<int> m_emptyFieldPositions;                     // this table's
  // Per field position: the number of the row that last set a non-NULL value.
  std::vector<uint32_t> m_valueSetInRow;
  uint32_t m_rowNumber = 0;

  // Per interview, one record after another: loop question, DataOrder,
  // number of enclosing loop values, those values, the loop value. Kept flat.
  // With the tables' questions known, it holds the interview being written
  // only: the records of loops a later table needs go to a temporary file, in
  // the order the interviews are written, which is ascending in every table;
  // the next table reads them back in step. Memory stays flat.
  std::unordered_map<int32_t, std::vector<int32_t>> m_loopOrders;
  std::vector<std::vector<int32_t>> m_tableQuestionIds;
  bool m_keepEveryLoopOrder = true;
  std::vector<int32_t> m_loopsNeededLater;  // sorted

  struct CFileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
  };
  using FilePtr = std::unique_ptr<std::FILE, CFileCloser>;
  FilePtr m_ordersIn;   // the previous tables' records
  FilePtr m_ordersOut;  // this table's and the carried ones, for the next tables
  bool m_hasIncoming = false;
  int32_t m_incomingId = 0;
  std::vector<int32_t> m_incoming;
  void ReadIncoming();
  // Writes the records of `loops needed later` among `records` for `interviewId`.
  void WriteOutgoing(int32_t interviewId, const std::vector<int32_t>& records);
  void CarryIncomingBefore(int32_t interviewId);
  // The record of `loop` at the current path's enclosing values and last
  // value, or nullptr; REQUIRES: !m_path.empty() when used for lookup.
  int32_t* FindLoopOrder(std::vector<int32_t>& records, int32_t loop,
                         std::span<const int32_t> enclosing, int32_t value);
  std::vector<int32_t> m_path;  // loop values from the interview to the node being written
  bool m_unknownOrderReported = false;
};

}  // namespace zx
