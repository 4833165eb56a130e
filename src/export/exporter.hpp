#pragma once
// CExporter: copies one survey from the source database into a ZUV file.
// Each export operation returns 0 on success and 1 on failure, after
// reporting the failure through the settings' reporter.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "export/interview_tree.hpp"
#include "export/new_planning.hpp"
#include "export/new_reader.hpp"
#include "export/pipeline.hpp"
#include "export/settings.hpp"
#include "platform/interruption.hpp"
#include "platform/odbc/source.hpp"
#include "platform/sync/semaphore.hpp"
#include "platform/value.hpp"

namespace zx {

class CQuestionnaire;
class CZuvDatabase;
struct CPreparedExport;

using BufferedRow = std::vector<CValue>;
struct LegacyBatch {
  std::vector<BufferedRow> rows;
};

// Opens the source database from the connection string (the ODBC layer by
// default; tests substitute fakes).
using SourceConnector = std::function<std::unique_ptr<CSourceConnection>(const std::string&)>;

class CExporter {
 public:
  // The ten option texts in order. Throws std::invalid_argument for a rejected
  // format, progress mode or date ("Invalid Sql Format", ...).
  CExporter(std::string source, std::string format, std::string connectString, std::string surveyId,
            std::string target, std::string progressMode, std::string pipeName,
            std::string completion, std::string minStartDate, std::string maxStartDate);
  ~CExporter();
  CExporter(const CExporter&) = delete;
  CExporter& operator=(const CExporter&) = delete;

  int ExportFromSqlLegacy();
  int ExportFromSqlNew();

  const ExportSettings& Settings() const { return m_settings; }
  void SetSourceConnector(SourceConnector connector) { m_sourceConnector = std::move(connector); }
  // Replaces the reporter made from the progress option (tests record messages).
  void SetReporter(std::unique_ptr<CProgressReporterBase> reporter) {
    m_settings.reporter = std::move(reporter);
  }
  // "Export interrupted", as an error; for the program run once an export
  // stopped because the process was asked to.
  void ReportInterrupted();

 private:
  // Shared preparation, pipeline and finishing
  // Every reporter call takes m_progressLock, before the read thread starts too.
  void ReportInfo(const std::string& message);
  void ReportError(const std::string& message);
  void ReportProgress(int percent);
  // REQUIRES: called inside a catch block. Reports "Error at %s\n%s : %s" (plus
  // `trailer`) for a CExportError, the bare location for anything else (and,
  // for a missing source column, one more line naming it).
  void ReportCaughtException(std::string_view location, std::string_view trailer = {});
  // The read thread: `readTable` for every table in turn, then the end signal.
  // A failure is reported under `location` and cancels the hand-over.
  // Returns the thread's result, 0 or 1.
  int RunReadThread(std::string_view location, bool (CExporter::*readTable)(int32_t));
  // Fresh hand-over semaphores, cancelled at once if a stop was requested before.
  template <class Content>
  void SetUpHandOver(SlotVector<Content>& slots) {
    std::lock_guard lock(m_handOverMutex);
    SetUpPipeline(slots, m_tableCount, m_freeBatches, m_readyBatches);
    if (InterruptionSignal() != 0) CancelPipeline(*m_freeBatches, *m_readyBatches);
  }
  // Both threads over tables 1..tableCount: `readThread` on a thread of its
  // own, `writer` (as WriteTables takes it) on this one. True when both got
  // through every table; otherwise the failing side has reported why. The
  // slots are released either way.
  template <class Content, class Writer>
  bool RunPipeline(SlotVector<Content>& slots, int32_t tableCount, int (CExporter::*readThread)(),
                   int64_t totalRows, Writer& writer) {
    m_tableCount = tableCount;
    SetUpHandOver(slots);
    m_readTableIndex = 0;
    const CPipelineReports reports{[this](const std::string& m) { ReportInfo(m); },
                                   [this](int percent) { ReportProgress(percent); }};
    bool written = false;
    int readResult = 1;
    try {
      // The reader is joined (or cancelled and joined) before the slots go.
      CReadThread reader(*m_freeBatches, *m_readyBatches,
                         [this, readThread] { return (this->*readThread)(); });
      written = WriteTables<Content>(slots, m_tableCount, *m_freeBatches, *m_readyBatches,
                                     totalRows, reports, writer);
      readResult = reader.Join();
    } catch (...) {
      slots.clear();
      throw;
    }
    slots.clear();
    return written && readResult == 0;
  }
  // Errors name the files the user gave: `privatePath` is reported as `shownAs`.
  void ShowPathAs(const std::string& privatePath, const std::string& shownAs);
  // Steps up to "Beginning export": work copy, questionnaire, response tables.
  // Null after a reported failure.
  std::unique_ptr<CPreparedExport> PrepareTargetFile(bool newLayout);
  // Connects the source and opens the work copy. Throws CExportError.
  void ConnectDatabases(CPreparedExport& prepared, bool newLayout);
  void CopySemiOpenAnswers(CZuvDatabase& target, bool newLayout);
  // Fills m_tableQuestions from the target's [Questionnaire].
  void ListTableQuestions(CZuvDatabase& target, const CQuestionnaire& questionnaire,
                          int32_t highestTableNumber, bool newLayout);
  // Closes the work copy, compacts it and puts the result in place of the target.
  void FinishTargetFile(CPreparedExport& prepared);
  std::unique_ptr<CSourceConnection> ConnectSource();
  // Connects m_sourceConnection before the legacy table check. False after
  // reporting why not: a missing database file by name, any other failure as
  // the legacy export's own.
  bool ConnectSourceForTableCheck();

  // Legacy layout
  int ReadTableFromSqlLegacy();
  bool ReadLegacyTable(int32_t tableIndex);  // false when the hand-over was cancelled
  std::string LegacyTableQuery(int32_t tableIndex) const;

  // New layout
  int ReadTableFromSqlNew();
  bool ReadNewLayoutTable(int32_t tableIndex);  // false when the hand-over was cancelled

  ExportSettings m_settings;
  SourceConnector m_sourceConnector;
  std::unique_ptr<CSourceConnection> m_sourceConnection;
  std::unique_ptr<CSourceRecordset> m_sourceRecordset;  // the read thread's while it runs
  std::set<int32_t> m_dataQuestionIds;                  // legacy: questions that carry data

  std::mutex m_progressLock;  // every reporter call once the read thread runs
  // Private file names and the user's name for each, in errors. Guarded by m_progressLock.
  std::vector<std::pair<std::string, std::string>> m_shownPaths;
  std::mutex m_handOverMutex;  // the semaphores' replacement against a stop request
  std::unique_ptr<CCancellableSemaphore> m_freeBatches;
  std::unique_ptr<CCancellableSemaphore> m_readyBatches;
  // A stop request cancels the hand-over, so that both threads end at their next wait.
  CInterruptionHook m_interruptionHook{[this] {
    std::lock_guard lock(m_handOverMutex);
    if (m_freeBatches && m_readyBatches) CancelPipeline(*m_freeBatches, *m_readyBatches);
  }};
  int32_t m_tableCount = 0;
  int32_t m_readTableIndex = 0;
  std::vector<std::unique_ptr<TableSlot<LegacyBatch>>> m_tableSlots;
  std::vector<std::unique_ptr<TableSlot<NewLayoutBatch>>> m_dataTableSlots;

  // Legacy: "Cle1" of every accepted table-1 row while a filter is active.
  std::unordered_set<CValue, CValueKeyHash, CValueKeyEqual> m_acceptedKeys;
  std::vector<std::vector<TableQuestion>> m_tableQuestions;  // index: table number - 1

  int32_t m_totalRowCount = 0;
  int32_t m_totalInterviewCount = 0;
  // New layout: the filter clause, the interview ranges and the tables'
  // questions as numbers, built once by ExportFromSqlNew before the read
  // thread starts. What crosses to the read thread is this plan (const, no
  // lock), the source connection (the read thread's alone while it runs), the
  // slots and semaphores of the hand-over, and the reporter under
  // m_progressLock.
  std::shared_ptr<const CNewLayoutPlan> m_newLayoutPlan;
  // The read thread's second connection and its helper, while it reads.
  std::unique_ptr<CRangeReadAhead> m_readAhead;
};

}  // namespace zx
