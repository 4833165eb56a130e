#include "frontend/program.hpp"

#include <cstdio>
#include <exception>
#include <iostream>
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
    fmt::print(stdout, "Error: {}\n", e.what());
    fmt::print(stdout, kUsage, programName);
    std::fflush(stdout);
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
    case LEGACY:
      result = exporter.ExportFromSqlLegacy();
      break;
    case NEW:
      result = exporter.ExportFromSqlNew();
      break;
    default:
      break;
  }
  // A stop that came after the target was replaced leaves a finished export.
  if (const int signal = InterruptionSignal(); signal != 0 && result != 0) {
    exporter.ReportInterrupted();
    result = 128 + signal;
  }
  const uint32_t elapsed = TickCountMs() - start;
  fmt::print(stdout, "The export took {} ms\n", elapsed);
  std::fflush(stdout);
  return result;
}

int RunProgram(int argc, char* argv[]) {
  int exitStatus = 1;
  bool pause = true;
  const char* programName = argc > 0 && argv[0] ? argv[0] : "zuvexport";
  try {
    const CProgramOptions options = ParseProgramOptions(argc, argv);
    if (options.help) {
      std::cout << OptionsHelpText() << "\n";
      std::cout.flush();
    } else {
      if (options.endPause == "UNPAUSE") pause = false;
      try {
        exitStatus = RunExport(options, programName);
      } catch (const std::exception& e) {
        exitStatus = 1;
        fmt::print(stdout, "Error: Export failed\n");
        std::fflush(stdout);
        fmt::print(stderr, "{}\n", e.what());
      } catch (...) {
        exitStatus = 1;
        fmt::print(stdout, "Error: Export failed\n");
        std::fflush(stdout);
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "Error with the program's parameters: " << e.what() << std::endl;
  }
  if (pause && InterruptionSignal() == 0) ConsolePause();
  return exitStatus;
}

}  // namespace zx
