// Export of a new-layout survey: the long data table pivoted into the wide
// "ORV Reponse%ld" tables, their empty single-choice fields filled as the
// rows are written.

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
  CNewLayoutTables(CZuvDatabase& target, CNewLayoutWriter& writer,
                   const std::vector<std::vector<TableQuestion>>& tableQuestions)
      : m_target(target),
        m_writer(writer),
        m_tableQuestions(tableQuestions),
        m_fills(tableQuestions.size()) {}

  void Open(int tableNumber) {
    const std::string name = CDBStructureAdo::GetResponseTableName(tableNumber);
    m_table = m_target.OpenRecordset(name);
    const auto t = static_cast<size_t>(tableNumber - 1);
    // The empty single-choice fields are filled as the rows are written: a
    // pass over the table afterwards would rewrite it once per field.
    if (t < m_fills.size()) m_fills[t] = PlanTableFill(m_tableQuestions[t], m_target.Columns(name));
    m_writer.BeginTable(*m_table, tableNumber,
                        t < m_fills.size() ? m_fills[t].onInsert : std::vector<std::string>{});
  }
  void WriteBatch(NewLayoutBatch& batch, const std::vector<std::string>&) {
    if (!m_writer.WriteBatch(batch)) throw CWriteFailed();
  }
  void Close(int) {
    m_writer.EndTable();
    m_table->Close();
    m_table.reset();
  }
  // What is left to fill once every table is written.
  const std::vector<CTableFill>& Fills() const { return m_fills; }

 private:
  CZuvDatabase& m_target;
  CNewLayoutWriter& m_writer;
  const std::vector<std::vector<TableQuestion>>& m_tableQuestions;
  std::vector<CTableFill> m_fills;
  std::unique_ptr<CZuvRecordset> m_table;
};

}  // namespace

int CExporter::ExportFromSqlNew() {
  std::unique_ptr<CPreparedExport> prepared = PrepareTargetFile(true);
  if (!prepared) return 1;
  try {
    ConnectDatabases(*prepared, true);
    CopySemiOpenAnswers(*prepared->target, true);

    auto plan = std::make_shared<CNewLayoutPlan>();
    plan->surveyId = m_settings.surveyId;
    plan->filterClause = BuildInterviewFilterClause(
        m_settings.completionFilter,
        CheckedStartBound(m_settings.minStartBound, m_settings.minStartDate),
        CheckedStartBound(m_settings.maxStartBound, m_settings.maxStartDate), *m_sourceConnection);
    const CQuestionnaire& questionnaire = *prepared->questionnaire;
    const int32_t tableCount = prepared->highestTableNumber;
    ListTableQuestions(*prepared->target, questionnaire, tableCount, true);
    for (const auto& table : m_tableQuestions) plan->tables.push_back(PlanQuestions(table));

    const std::string questionList = BuildQuestionList(plan->tables);
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
        *m_sourceConnection, info, m_settings.surveyId, questionList, plan->filterClause);
    plan->rowCount = counts.rowCount;
    plan->interviewCount = counts.interviewCount;
    plan->ranges = PlanInterviewRanges(
        ReadPassingInterviewIds(*m_sourceConnection, m_settings.surveyId, plan->filterClause),
        counts.rowCount, counts.interviewCount);
    m_totalRowCount = plan->rowCount;
    m_totalInterviewCount = plan->interviewCount;
    m_newLayoutPlan = plan;

    CNewLayoutWriter writer(questionnaire, info, [this](const std::string& m) { ReportError(m); });
    std::vector<std::vector<int32_t>> tableQuestionIds;
    for (const auto& table : plan->tables) {
      auto& ids = tableQuestionIds.emplace_back();
      for (const CPlannedQuestion& question : table) ids.push_back(question.code);
    }
    writer.SetTableQuestions(std::move(tableQuestionIds));
    CNewLayoutTables tables(*prepared->target, writer, m_tableQuestions);
    if (!RunPipeline(m_dataTableSlots, tableCount, &CExporter::ReadTableFromSqlNew, m_totalRowCount,
                     tables))
      return 1;

    const std::vector<CTableFill> fills = tables.Fills();
    FillEmptyFields(*prepared->target, m_tableQuestions, fills, info);
    FinishTargetFile(*prepared);
    return 0;
  } catch (const CWriteFailed&) {
    return 1;
  } catch (...) {
    ReportCaughtException(kLocation);
    return 1;
  }
}

}  // namespace zx
