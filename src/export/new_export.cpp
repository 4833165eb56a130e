// Export of a new-layout survey: the long data table pivoted into the wide
// "ORV Reponse%ld" tables, then the empty single-choice fields filled.

#include "export/exporter.hpp"
#include "export/finishing.hpp"
#include "export/new_fill.hpp"
#include "export/new_planning.hpp"
#include "export/new_writer.hpp"
#include "export/preparation.hpp"
#include "platform/error.hpp"
#include "platform/files.hpp"
#include "surveylib/db_structure.hpp"

namespace zx {
namespace {

constexpr const char* kLocation = "CExporter::ExportFromSqlNew";

// The table loop's view of the writer. Thread: the writer.
class CNewLayoutTables {
 public:
  CNewLayoutTables(CZuvDatabase& target, CNewLayoutWriter& writer)
      : m_target(target), m_writer(writer) {}

  void Open(int tableNumber) {
    m_table = m_target.OpenRecordset(CDBStructureAdo::GetResponseTableName(tableNumber));
    m_writer.BeginTable(*m_table, tableNumber);
  }
  void WriteBatch(NewLayoutBatch& batch, const std::vector<std::string>&) {
    if (!m_writer.WriteBatch(batch)) throw CWriteFailed();
  }
  void Close(int) {
    m_writer.EndTable();
    m_table->Close();
    m_table.reset();
  }

 private:
  CZuvDatabase& m_target;
  CNewLayoutWriter& m_writer;
  std::unique_ptr<CZuvRecordset> m_table;
};

}  // namespace

int CExporter::ExportFromSqlNew() {
  std::unique_ptr<CPreparedExport> prepared = PrepareTargetFile(true);
  if (!prepared) return 1;
  try {
    ConnectDatabases(*prepared, true);
    CopySemiOpenAnswers(*prepared->target, true);

    m_interviewFilterClause = BuildInterviewFilterClause(
        m_settings.completionFilter,
        CheckedStartBound(m_settings.minStartBound, m_settings.minStartDate),
        CheckedStartBound(m_settings.maxStartBound, m_settings.maxStartDate), *m_sourceConnection);
    const CQuestionnaire& questionnaire = *prepared->questionnaire;
    const int32_t tableCount = prepared->highestTableNumber;
    ListTableQuestions(*prepared->target, questionnaire, tableCount, true);

    const std::string questionList = BuildQuestionList(m_tableQuestions);
    if (questionList.empty()) {
      ReportInfo("Nothing to export");
      // The target receives the rebuilt structure, as it is.
      prepared->target->Close();
      prepared->target.reset();
      ReplaceTargetFile(prepared->workFile, m_settings.targetFile,
                        [this](const std::string& m) { ReportInfo(m); });
      return 0;
    }

    const InfoReport info = [this](const std::string& m) { ReportInfo(m); };
    const CNewLayoutCounts counts = CountNewLayoutSource(
        *m_sourceConnection, info, m_settings.surveyId, questionList, m_interviewFilterClause);
    m_totalRowCount = counts.rowCount;
    m_totalInterviewCount = counts.interviewCount;
    m_interviewRanges = PlanInterviewRanges(
        ReadPassingInterviewIds(*m_sourceConnection, m_settings.surveyId, m_interviewFilterClause),
        counts.rowCount, counts.interviewCount);

    m_tableCount = tableCount;
    SetUpHandOver(m_dataTableSlots);
    m_readTableIndex = 0;
    const CPipelineReports reports{info, [this](int percent) { ReportProgress(percent); }};
    bool written = false;
    int readResult = 1;
    {
      CReadThread reader(*m_freeBatches, *m_readyBatches, [this] { return ReadTableFromSqlNew(); });
      CNewLayoutWriter writer(questionnaire, info,
                              [this](const std::string& m) { ReportError(m); });
      CNewLayoutTables tables(*prepared->target, writer);
      written = WriteTables<NewLayoutBatch>(m_dataTableSlots, m_tableCount, *m_freeBatches,
                                            *m_readyBatches, m_totalRowCount, reports, tables);
      readResult = reader.Join();
    }
    m_dataTableSlots.clear();
    if (!written || readResult != 0) return 1;  // the reader has reported its failure

    FillEmptyFields(*prepared->target, m_tableQuestions, info);
    FinishTargetFile(*prepared);
    return 0;
  } catch (const CWriteFailed&) {
    m_dataTableSlots.clear();
    return 1;
  } catch (...) {
    m_dataTableSlots.clear();
    ReportCaughtException(kLocation);
    return 1;
  }
}

}  // namespace zx
