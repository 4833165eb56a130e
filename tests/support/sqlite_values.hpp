#pragma once
// Typed reads of SQLite files through SQLite itself (sqlite_file.hpp reads
// text), for checks where the type of a value matters.
#include <ostream>
#include <string>
#include <vector>

#include "platform/value.hpp"

namespace zx {
// Test output: the type and the value.
void PrintTo(const CValue& value, std::ostream* out);
}  // namespace zx

namespace zx::test {

// Every row of `sql`: integers as Int64, reals as Double, texts as Text, NULL.
std::vector<std::vector<CValue>> QueryValues(const std::string& path, const std::string& sql);

// Equal, doubles allowed one part in 10^15 (the ODBC driver passes them as text).
bool SameValue(const CValue& a, const CValue& b);

// With gtest assertions: both files hold the same tables with the same rows
// (in any order), values compared by SameValue.
void ExpectSameTables(const std::string& expected, const std::string& actual);

// "Driver=SQLite3;Database=PATH;StepAPI=1".
std::string SqliteConnectString(const std::string& path);

}  // namespace zx::test
