#pragma once
// The command line: the option table, its parsing and the texts handed to
// the exporter.
#include <string>

namespace zx {

struct CProgramOptions {
  bool help = false;  // the other fields are then not read
  std::string source;
  std::string format;
  std::string connectString;
  std::string id;
  std::string target;
  std::string progress;  // "CONSOLE" unless given
  std::string pipe;
  std::string completion;
  std::string minStartDate;
  std::string maxStartDate;
  std::string endPause;  // "PAUSE" unless given
};

// The options description as the help prints it.
std::string OptionsHelpText();

// Parses the command line. Options are written --name value, --name=value,
// -name value or /name value; names are exact (case-sensitive, never
// abbreviated); tokens that are not options are ignored. Throws the options
// library's exception (a std::exception) for an unknown option, a missing
// value, an option given twice or a missing required option. When help is
// asked for, returns at once without checking the required options.
CProgramOptions ParseProgramOptions(int argc, const char* const argv[]);

}  // namespace zx
