#pragma once
// The rule both writers apply when storing one target row fails.
#include "platform/error.hpp"

namespace zx {

// Whether a failed Update drops that one row and lets the export go on. A row
// already missing a column (`skippedColumn`) may be refused, and so may a row
// without a required value where the layout allows it (`emptyRequiredAllowed`).
// Running out of resources never drops a row: the legacy writer recovers from
// it, the new-layout writer stops, and neither loses the row without a word.
inline bool UpdateFailureDropsRow(const CExportError& error, bool skippedColumn,
                                  bool emptyRequiredAllowed) {
  if (error.IsResourcesExceeded()) return false;
  return skippedColumn || (emptyRequiredAllowed && error.IsRequiredFieldEmpty());
}

}  // namespace zx
