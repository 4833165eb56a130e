#pragma once
// The program run: options, exporter, timed export, exit status and pause.

namespace zx {

class CExporter;

// The whole program as a function, main() being only its caller. Returns the
// exit status: 0 only when the export succeeded.
int RunProgram(int argc, char* argv[]);

// Runs the export operation that matches the format and prints "The export
// took %lu ms\n" whatever its result. 1 when the format is neither layout.
int RunTimedExport(CExporter& exporter);

}  // namespace zx
