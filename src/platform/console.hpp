#pragma once
#include <cstdint>

namespace zx {

// "Press any key to continue . . . " and one key: raw mode on a terminal,
// otherwise one byte of standard input (returns at end of input).
void ConsolePause();
// Milliseconds of a steady clock, wrapping like a 32-bit tick counter.
uint32_t TickCountMs();

}  // namespace zx
