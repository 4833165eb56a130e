#pragma once
// Values from SQLite texts. The SQLite driver turns every value into text and
// parses it back to the asked C type, silently (an INTEGER column holding
// 2^40 read as a 32-bit integer gives 0, a date text it cannot parse gives
// NULL). Reading the text and typing it here keeps every value. Pure parsers.
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/dates.hpp"
#include "platform/odbc/column_kind.hpp"
#include "platform/value.hpp"

namespace zx {

// Integers as SQLite writes them: optional '-', no leading zeros.
std::optional<int64_t> ParseSqliteInteger(std::string_view text);
// Reals as SQLite writes them ("0.5", "1.0e+300"): never a bare integer.
std::optional<double> ParseSqliteReal(std::string_view text);
// "YYYY-MM-DD[( |T)HH:MM[:SS[.fffffffff]]]", a real calendar date and time.
std::optional<CDateTime> ParseSqliteDateTime(std::string_view text);

// The declared kind decides the type when the text fits it; any other text
// is kept as it stands.
CValue ValueFromSqliteText(CKind kind, std::string_view text);

// The SQLite driver calls a column without declared type (and every
// expression: COUNT(*), MAX(x)) "varchar"; a declared type without CHAR, CLOB
// or TEXT has no text affinity in SQLite either. Both are typed by value.
bool IsUntypedSqliteColumn(std::string_view typeName);

}  // namespace zx
