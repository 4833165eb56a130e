#include "frontend/program.hpp"

#include <exception>
#include <memory>
#include <stdexcept>

#include <fmt/format.h>

#include "export/exporter.hpp"
#include "frontend/options.hpp"
#include "platform/console.hpp"
#include "platform/interruption.hpp"

namespace zx {
namespace {

constexpr const char* kUsage =
    "Usage: {} [ZuvSource] [SqlFormat] [ConnectString] [SurveyID] [ZuvTarget] "
    "[ProgressReportMode] [ProgressPipeName] [CompletedFilter]";

// Constructs the exporter, runs and times the export, destroys the exporter.
// Returns the exit status.
int RunExport(const CProgramOptions& options, const char* programName) {
  // Declared first: a termination signal stops the export, which then
  // unwinds and cleans up as after any failure, until the reporter is gone.
  CSignalWatcher signals;
  std::unique_ptr<CExporter> exporter;
  try {
    exporter =
        std::make_unique<CExporter>(options.source, options.format, options.connectString,
                                    options.id, options.target, options.progress, options.pipe,
                                    options.completion, options.minStartDate, options.maxStartDate);
  } catch (const std::invalid_argument& e) {
    WriteStandardOutput(fmt::format("Error: {}\n", e.what()));
    WriteStandardOutput(fmt::format(kUsage, programName));
    return 1;
  }
  const int result = RunTimedExport(*exporter);
  // The reporter goes with the exporter, after the duration line: a queue
  // reader sees its name removed only once everything was sent.
  exporter.reset();
  return result;
}

}  // namespace

int RunTimedExport(CExporter& exporter) {
  const uint32_t start = TickCountMs();
  int result = 1;
  switch (exporter.Settings().sqlFormat) {
    case SqlFormat::LEGACY:
      result = exporter.ExportFromSqlLegacy();
      break;
    case SqlFormat::NEW:
      result = exporter.ExportFromSqlNew();
      break;
    default:
      break;
  }
  // A stop that came after the target was replaced leaves a finished export.
  if (InterruptionSignal() != 0 && result != 0) {
    exporter.ReportInterrupted();
    result = InterruptionExitStatus();
  }
  const uint32_t elapsed = TickCountMs() - start;
  WriteStandardOutput(fmt::format("The export took {} ms\n", elapsed));
  return result;
}

int RunProgram(int argc, char* argv[]) {
  GuardStandardStreams();
  int exitStatus = 1;
  bool pause = true;
  const char* programName = argc > 0 && argv[0] ? argv[0] : "zuvexport";
  try {
    const CProgramOptions options = ParseProgramOptions(argc, argv);
    if (options.help) {
      WriteStandardOutput(OptionsHelpText() + "\n");
    } else {
      if (options.endPause == "UNPAUSE") pause = false;
      try {
        exitStatus = RunExport(options, programName);
      } catch (const std::exception& e) {
        exitStatus = 1;
        WriteStandardOutput("Error: Export failed\n");
        WriteStandardError(fmt::format("{}\n", e.what()));
      } catch (...) {
        exitStatus = 1;
        WriteStandardOutput("Error: Export failed\n");
      }
    }
  } catch (const std::exception& e) {
    WriteStandardError(fmt::format("Error with the program's parameters: {}\n", e.what()));
  }
  if (pause && InterruptionSignal() == 0) ConsolePause();
  return exitStatus;
}

}  // namespace zx
