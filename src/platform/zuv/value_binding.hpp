#pragma once
// CValue to and from SQLite statement columns and parameters.
#include <sqlite3.h>

#include "platform/value.hpp"

namespace zx {

// Integers come back as Int32 when they fit, else Int64; reals as Double,
// texts as Text, blobs as Binary, NULL as CValue().
CValue ReadColumn(sqlite3_stmt* stmt, int column);

// Returns SQLite's result code.
// REQUIRES: `value` outlives the sqlite3_step that uses it (texts and blobs
// are bound without a copy; sqlite3_reset keeps bindings, so every use of a
// statement binds all its parameters again).
int BindValue(sqlite3_stmt* stmt, int parameter, const CValue& value);

}  // namespace zx
