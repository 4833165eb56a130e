#pragma once
// The engine's side of the SetZuvFaultHook test seam.
#include <string_view>

namespace zx {

// Throws CExportError(code, ...) when a hook is set and answers a non-zero code.
void CallFaultHook(std::string_view operation, std::string_view table);

}  // namespace zx
