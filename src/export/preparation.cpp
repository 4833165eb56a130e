// The preparation both layouts share: the work copy of the target, the
// questionnaire, the response tables, the connections and the semi-open answers.
#include "export/preparation.hpp"

#include <fmt/format.h>
#include <fmt/printf.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <system_error>

#include "export/exporter.hpp"
#include "platform/beside_target.hpp"
#include "platform/error.hpp"
#include "platform/files.hpp"
#include "platform/interruption.hpp"
#include "platform/text.hpp"
#include "surveylib/db_structure.hpp"
#include "surveylib/survey_names.hpp"

namespace zx {

CTemporaryFiles::~CTemporaryFiles() {
  for (const std::string& path : m_paths) RemoveFileQuietly(path);
}

std::unique_ptr<CSourceConnection> CExporter::ConnectSource() {
  if (m_sourceConnector) return m_sourceConnector(m_settings.connectString);
  return ConnectOdbc(m_settings.connectString, kSourceQueryTimeoutSeconds);
}

bool CExporter::ConnectSourceForTableCheck() {
  try {
    m_sourceConnection = ConnectSource();
    if (m_sourceConnection) return true;
    throw CExportError(codes::kPointer, "CExporter", "No source connection");
  } catch (const CExportError& e) {
    if (e.Code() != codes::kFileNotFound) {
      ReportCaughtException("CExporter::ExportFromSqlLegacy");
    } else {
      ReportError(e.Description());  // names the missing database file
    }
  } catch (...) {
    ReportCaughtException("CExporter::ExportFromSqlLegacy");
  }
  return false;
}

std::unique_ptr<CPreparedExport> CExporter::PrepareTargetFile(bool newLayout) {
  ReportInfo("Reading Questionnaire Structure...");
  auto prepared = std::make_unique<CPreparedExport>();
  const std::string& source = m_settings.sourceFile;
  const std::string& target = m_settings.targetFile;

  if (IsSameFile(source, target)) {
    ReportError(fmt::format("The target file '{}' is the source file '{}'", target, source));
    return nullptr;
  }
  // The export removes and rewrites these names: a source by one of them
  // would be lost.
  if (const std::string kept = NameBesideTargetOf(source, target); !kept.empty()) {
    ReportError(
        fmt::format("The source file '{}' is '{}', a file the export to '{}' writes and "
                    "removes; give the source another name or choose another target",
                    source, kept, target));
    return nullptr;
  }
  if (IsFolder(target)) {
    ReportError(fmt::format("The target file '{}' is a folder; name a file in it instead", target));
    return nullptr;
  }
  // One export per target: everything below, the leftovers' removal too,
  // happens under the lock, until the target is replaced and the work files are gone.
  try {
    prepared->lock = std::make_unique<CTargetLock>(target);
  } catch (const CFileError& error) {
    // Nothing can be created beside the target: reported as the copy's failure would be.
    ReportError("Could not create Zuv target file from Zuv source file");
    ReportError(error.SystemText());
    return nullptr;
  } catch (const CExportError& error) {
    ReportError(error.Description());
    return nullptr;
  }
  try {
    // Files of an export's names are known to be one's only when a stopped
    // export's lock was there to take over.
    if (prepared->lock->TookOver()) {
      const std::vector<std::string> leftovers = ExportLeftovers(target);
      if (!leftovers.empty()) {
        RemoveFiles(leftovers);
        ReportInfo(
            fmt::format("Removed files left by an earlier export: {}", fmt::join(leftovers, ", ")));
      }
    } else if (const std::vector<std::string> inTheWay = CompactedCopyFiles(target);
               !inTheWay.empty()) {
      ReportError(
          fmt::format("The file '{}' is in the way of the export to '{}', which writes "
                      "its compacted copy there, and no earlier export is known to have "
                      "left it; move or remove it",
                      inTheWay.front(), target));
      return nullptr;
    }
  } catch (const CExportError& error) {
    ReportError(error.Description());
    return nullptr;
  }

  // Everything is written into a copy beside the target; an existing target
  // stays as it was until the finished file replaces it.
  prepared->workFile = SiblingTempPath(target, "work");
  prepared->compactedFile = CompactedPathOf(target);
  prepared->temporaryFiles.Add(prepared->workFile);
  // The copy holds the source's questionnaire: its faults are the source's.
  ShowPathAs(prepared->workFile, source);
  try {
    CopyZuvFile(source, prepared->workFile);
  } catch (const CFileError& error) {
    ReportError("Could not create Zuv target file from Zuv source file");
    ReportError(error.SystemText());
    return nullptr;
  } catch (const CExportError& error) {
    // A stop request ends the copy between steps; the stop is reported as such.
    if (InterruptionSignal() != 0) return nullptr;
    ReportError("Could not create Zuv target file from Zuv source file");
    ReportError(error.Description());
    return nullptr;
  }
  if (InterruptionSignal() != 0) return nullptr;

  prepared->questionnaire = std::make_unique<CQuestionnaire>();
  CQuestionnaire& questionnaire = *prepared->questionnaire;
  if (!questionnaire.Read(prepared->workFile, true, true, true, true, false, DATABASE_ZUV, 1036,
                          true) &&
      questionnaire.m_errorCode <= 8) {
    ReportError(questionnaire.m_errorText);
    return nullptr;
  }

  if (newLayout) {
    questionnaire.VerifyDataEntryStructures(prepared->workFile, DATABASE_ZUV);
  } else {
    // The check reads through the connection the export goes on to use.
    if (!ConnectSourceForTableCheck()) return nullptr;
    CDBStructureAdo sourceStructure = CDBStructureAdo::OnSourceDatabase(*m_sourceConnection);
    sourceStructure.m_surveyId = m_settings.surveyId;
    sourceStructure.m_surveyFlag = false;
    if (!sourceStructure.Open(false)) {
      ReportError(sourceStructure.m_errorText);
      return nullptr;
    }
    if (!sourceStructure.ReadDataStructure(questionnaire)) {
      ReportError(questionnaire.m_errorText);
      return nullptr;
    }
  }
  questionnaire.PreparerSaisie();
  // From here on the copy is being made into the target.
  ShowPathAs(prepared->workFile, target);
  ShowPathAs(prepared->compactedFile, target);
  if (InterruptionSignal() != 0) return nullptr;

  const int32_t highest = HighestResponseTable(questionnaire);
  prepared->highestTableNumber = highest;
  if (!newLayout) {
    for (int i = 0; i < questionnaire.GetNbreQuestion(); ++i) {
      const CQuestion& question = questionnaire.GetQuestion(i);
      if (question.CarriesData()) m_dataQuestionIds.insert(question.m_id);
    }
  }

  ReportInfo("Creating Target Zuv Structure...");
  CDBStructureAdo targetStructure = CDBStructureAdo::OnZuvFile(prepared->workFile);
  if (!targetStructure.Open(false)) {
    ReportError(targetStructure.m_errorText);
    return nullptr;
  }
  targetStructure.DeleteResponseStructure(highest);
  if (!targetStructure.DeleteAndRecreateResponseStructure(questionnaire, !newLayout)) {
    ReportError(targetStructure.m_errorText);
    return nullptr;
  }
  for (int32_t t = 1; t <= highest; ++t) {
    std::string name = CDBStructureAdo::GetResponseTableName(t);
    if (!targetStructure.IsExistingTable(name)) targetStructure.CreateOrvixTableDef(name, 1, false);
  }
  targetStructure.Close();
  if (InterruptionSignal() != 0) return nullptr;

  ReportInfo("Beginning export");
  return prepared;
}

void CExporter::ConnectDatabases(CPreparedExport& prepared, bool newLayout) {
  ReportInfo("Connecting to SQL Database...");
  if (!m_sourceConnection) m_sourceConnection = ConnectSource();
  if (!m_sourceConnection) throw CExportError(codes::kPointer, "CExporter", "No source connection");
  if (InterruptionSignal() != 0)
    throw CExportError(codes::kFail, "CExporter", "Export interrupted");

  ReportInfo("Connecting to Zuv File Database Engine...");
  prepared.engine = std::make_unique<CZuvEngine>();
  if (newLayout) ReportInfo(prepared.engine->Version());
  prepared.engine->SetOption(62, 15000);
  if (newLayout) prepared.engine->SetOption(8, 20000);
  prepared.target = prepared.engine->OpenDatabase(prepared.workFile, newLayout);
}

void CExporter::CopySemiOpenAnswers(CZuvDatabase& target, bool newLayout) {
  ReportInfo("Copying Semi-opens table...");
  const std::string sourceName = CTblSemiOpenOdbc::GetTableName(m_settings.surveyId, newLayout);
  const std::string targetName = CTblSemiOpenOdbc::GetTableName(-1, false);
  std::unique_ptr<CSourceRecordset> source =
      m_sourceConnection->Execute("SELECT * FROM " + Bracketed(sourceName));
  constexpr int kCopiedFields = static_cast<int>(kSemiOpenColumns.size());  // 1..7 are copied
  if (!source->IsEOF() && source->FieldCount() < kCopiedFields) {
    throw CExportError(
        codes::kMissingField, "CExporter",
        fmt::sprintf("The table %s has fewer than %d columns", sourceName, kCopiedFields));
  }
  for (; !source->IsEOF(); source->MoveNext()) {
    const long answerCode = CDBStructureAdo::GetFieldValueLong(*source, 0, 0);
    std::unique_ptr<CZuvRecordset> answer = target.OpenRecordset(fmt::sprintf(
        "SELECT * FROM [%s] WHERE %s=%ld", targetName, kSemiOpenAnswerColumn, answerCode));
    if (answer->RecordCount() == 0) {
      const long questionCode = CDBStructureAdo::GetFieldValueLong(*source, 1, 0);
      target.Execute(fmt::sprintf("INSERT INTO [%s] (%s,%s,%s) VALUES (%ld,%ld,'newcaption')",
                                  targetName, kSemiOpenAnswerColumn, kSemiOpenQuestionColumn,
                                  kSemiOpenCaptionColumn, answerCode, questionCode));
      answer->Requery();
    }
    answer->Edit();
    for (int position = 1; position < kCopiedFields; ++position) {
      answer->SetField(position, source->FieldValue(position));
    }
    answer->Update();
    answer->Close();
  }
  // The connection takes one statement at a time.
  source->Close();
}

}  // namespace zx
