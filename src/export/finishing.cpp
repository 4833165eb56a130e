#include "export/finishing.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "export/exporter.hpp"
#include "export/preparation.hpp"
#include "platform/beside_target.hpp"
#include "platform/files.hpp"
#include "platform/interruption.hpp"
#include "platform/zuv/engine.hpp"

namespace zx {

void ReplaceTargetFile(const std::string& finished, const std::string& target,
                       const std::function<void(const std::string&)>& removed) {
  // The last point at which a stop request leaves the previous target as it was.
  if (InterruptionSignal() != 0)
    throw CExportError(codes::kFail, "CExporter", "Export interrupted");
  const std::vector<std::string> sideFiles = SideFiles(target);
  if (!sideFiles.empty()) {
    RemoveFiles(sideFiles);
    removed(
        fmt::format("Removed the previous target's side files: {}", fmt::join(sideFiles, ", ")));
  }
  ReplaceFileAtomically(finished, target);
}

void CExporter::FinishTargetFile(CPreparedExport& prepared) {
  prepared.target->Close();
  prepared.target.reset();
  ReportInfo("Recompacting Zuv File...");
  // Registered before it exists, so that a failed compaction leaves nothing behind.
  prepared.temporaryFiles.Add(prepared.compactedFile);
  RemoveFileQuietly(prepared.compactedFile);
  prepared.engine->CompactDatabase(prepared.workFile, prepared.compactedFile);
  ReplaceTargetFile(prepared.compactedFile, m_settings.targetFile,
                    [this](const std::string& m) { ReportInfo(m); });
}

}  // namespace zx
