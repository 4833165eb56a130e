// Export of a legacy-layout survey: every "ORVResponse%ld_%ld" row copied,
// column by column, into the same-numbered "ORV Reponse%ld" table.
#include <fmt/printf.h>

#include <algorithm>
#include <limits>

#include "export/exporter.hpp"
#include "export/finishing.hpp"
#include "export/preparation.hpp"
#include "export/write_tolerance.hpp"
#include "platform/error.hpp"
#include "surveylib/db_structure.hpp"
#include "surveylib/survey_names.hpp"

namespace zx {
namespace {

constexpr const char* kLocation = "CExporter::ExportFromSqlLegacy";
// The engine running out of resources is answered by reopening the target;
// a row that still fails after this many reopenings is a write failure
// rather than an endless loop.
constexpr int kMaxIdleRecoveriesPerRow = 3;

// Writes the batches of one table after another into the work copy.
// Thread: the writer.
class CLegacyTableWriter {
 public:
  CLegacyTableWriter(CPreparedExport& prepared, const CPipelineReports& reports,
                     std::function<void(const std::string&)> reportError)
      : m_prepared(prepared), m_reports(reports), m_reportError(std::move(reportError)) {}

  void Open(int tableNumber) {
    m_tableName = CDBStructureAdo::GetResponseTableName(tableNumber);
    OpenRecordset();
  }

  void WriteBatch(LegacyBatch& batch, const std::vector<std::string>& columns) {
    if (!m_positionsResolved) ResolveColumns(columns);
    size_t row = 0;
    int recoveries = 0;
    while (row < batch.rows.size()) {
      try {
        WriteRow(batch.rows[row]);
        ++row;
        recoveries = 0;
      } catch (const CExportError& error) {
        if (error.IsResourcesExceeded() && recoveries < kMaxIdleRecoveriesPerRow) {
          ++recoveries;
          RecoverIdle();  // then the failed row again, from its first column
          continue;
        }
        m_reportError("Error while trying to write data in the target Zuv file.");
        throw;
      }
    }
  }

  void Close(int) {
    m_recordset->Close();
    m_recordset.reset();
  }

 private:
  void OpenRecordset() {
    m_recordset = m_prepared.target->OpenRecordset(m_tableName);
    m_positionsResolved = false;
  }

  // Field positions by name, once per opened table; -1 for a column the
  // target lacks (its values are dropped, as a lookup by name would).
  void ResolveColumns(const std::vector<std::string>& columns) {
    m_positions.assign(columns.size(), -1);
    for (size_t c = 0; c < columns.size(); ++c) {
      try {
        m_positions[c] = m_recordset->FieldIndex(columns[c]);
      } catch (const CExportError& error) {
        if (!error.IsMissingField()) throw;
      }
    }
    m_positionsResolved = true;
  }

  void WriteRow(const BufferedRow& row) {
    m_recordset->AddNew();
    bool skippedColumn = false;
    const size_t count = std::min(row.size(), m_positions.size());
    for (size_t c = 0; c < count; ++c) {
      if (row[c].IsNull()) continue;
      if (m_positions[c] < 0) {
        skippedColumn = true;
        continue;
      }
      try {
        // A copy: after an idle recovery the same row is written again.
        m_recordset->SetField(m_positions[c], row[c]);
      } catch (const CExportError& error) {
        if (!error.IsMissingField()) throw;
        skippedColumn = true;
      }
    }
    try {
      m_recordset->Update();
    } catch (const CExportError& error) {
      if (!UpdateFailureDropsRow(error, skippedColumn, false)) throw;
    }
  }

  void RecoverIdle() {
    m_reports.info("Entering Idle Mode...");
    m_recordset->Close();
    m_recordset.reset();
    m_prepared.target->Close();
    m_prepared.target.reset();
    m_prepared.engine->Idle();
    m_prepared.target = m_prepared.engine->OpenDatabase(m_prepared.workFile);
    OpenRecordset();
    m_reports.info("Leaving Idle Mode");
  }

  CPreparedExport& m_prepared;
  const CPipelineReports& m_reports;
  std::function<void(const std::string&)> m_reportError;
  std::string m_tableName;
  std::unique_ptr<CZuvRecordset> m_recordset;
  std::vector<int> m_positions;
  bool m_positionsResolved = false;
};

}  // namespace

int CExporter::ExportFromSqlLegacy() {
  std::unique_ptr<CPreparedExport> prepared = PrepareTargetFile(false);
  if (!prepared) return 1;
  try {
    ConnectDatabases(*prepared, false);
    const int32_t tableCount = prepared->highestTableNumber;
    ListTableQuestions(*prepared->target, *prepared->questionnaire, tableCount, false);
    CopySemiOpenAnswers(*prepared->target, false);

    ReportInfo("Getting total number of rows...");
    int64_t totalRows = 0;
    for (int32_t t = 1; t <= tableCount; ++t) {
      std::unique_ptr<CSourceRecordset> count =
          m_sourceConnection->Execute("SELECT COUNT(*) AS RecordCount FROM " +
                                      Bracketed(LegacyResponseTableName(m_settings.surveyId, t)));
      totalRows += count->FieldValue(std::string_view("RecordCount")).ToInt32();
      count->Close();
    }
    ReportInfo(fmt::sprintf("The total number of rows is %d", totalRows));
    m_totalRowCount =
        static_cast<int32_t>(std::min<int64_t>(totalRows, std::numeric_limits<int32_t>::max()));

    const CPipelineReports reports{[this](const std::string& m) { ReportInfo(m); },
                                   [this](int percent) { ReportProgress(percent); }};
    CLegacyTableWriter writer(*prepared, reports, [this](const std::string& m) { ReportError(m); });
    if (!RunPipeline(m_tableSlots, tableCount, &CExporter::ReadTableFromSqlLegacy, totalRows,
                     writer))
      return 1;

    FinishTargetFile(*prepared);
    return 0;
  } catch (...) {
    ReportCaughtException(kLocation);
    return 1;
  }
}

}  // namespace zx
