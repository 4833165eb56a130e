#pragma once
// The last step of both layouts: the compacted work copy takes the target's place.
#include <string>

namespace zx {

class CZuvEngine;

// Compacts `workFile` into `compactedFile` (a leftover of an earlier run is
// removed first), then renames it over `targetFile` in one step. Until that
// rename an existing target is untouched. Throws CExportError; a failed
// replacement is an error, never success.
// REQUIRES: `workFile` is closed.
void CompactIntoTarget(CZuvEngine& engine, const std::string& workFile,
                       const std::string& compactedFile, const std::string& targetFile);

}  // namespace zx
