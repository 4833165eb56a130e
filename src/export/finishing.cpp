#include "export/finishing.hpp"

#include "export/exporter.hpp"
#include "export/preparation.hpp"
#include "platform/files.hpp"
#include "platform/zuv/engine.hpp"

namespace zx {

void CompactIntoTarget(CZuvEngine& engine, const std::string& workFile,
                       const std::string& compactedFile, const std::string& targetFile) {
  RemoveFileQuietly(compactedFile);
  engine.CompactDatabase(workFile, compactedFile);
  ReplaceFileAtomically(compactedFile, targetFile);
}

void CExporter::FinishTargetFile(CPreparedExport& prepared) {
  prepared.target->Close();
  prepared.target.reset();
  ReportInfo("Recompacting Zuv File...");
  // Registered before it exists, so that a failed compaction leaves nothing behind.
  prepared.temporaryFiles.Add(prepared.compactedFile);
  CompactIntoTarget(*prepared.engine, prepared.workFile, prepared.compactedFile,
                    m_settings.targetFile);
}

}  // namespace zx
