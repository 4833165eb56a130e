#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zx {

// "Press any key to continue . . . " and one key, read in raw mode, when a
// person can answer: standard input is the terminal this process is in the
// foreground of. Otherwise the text and its line end are printed and it
// returns at once, so a controlling program's run never waits on it.
void ConsolePause();
// Everything the program prints on standard output goes through here, whole
// texts, unbuffered. A reader that went away, a full disk, a closed
// descriptor or a reader that takes nothing for kStalledReaderLimitMs gives
// standard output up for good: one line says so on standard error, later
// texts are dropped, and the caller goes on. false when `text` was dropped.
bool WriteStandardOutput(std::string_view text);
// A standard descriptor closed at start would be taken by the next file the
// program opens, and output meant for the console written into that file:
// /dev/null takes its place. A closed standard output counts as lost.
void GuardStandardStreams();
// Standard error, with the same protection (never SIGPIPE, never a hang).
void WriteStandardError(std::string_view text);
// The program's arguments as UTF-8 texts. On Windows they are read from the
// wide command line, since `argv` holds them in the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char* argv[]);
// Milliseconds of a steady clock, wrapping like a 32-bit tick counter.
uint32_t TickCountMs();

}  // namespace zx
