#pragma once
// How texts cross into the driver manager. The program's texts are UTF-8.
// A driver with wide entry points (FreeTDS) gets them as UTF-16 (SQLWCHAR):
// FreeTDS would read a narrow connection string as ISO 8859-1. A driver
// without them (SQLite's) gets them narrow, as the UTF-8 it reads: the
// driver manager's conversion for it depends on the locale.
#include "platform/odbc/odbc_api.hpp"

#include <string>
#include <string_view>

namespace zx {

enum class COdbcTexts { Narrow, Wide };

using COdbcWideText = std::basic_string<SQLWCHAR>;

// Throws CExportError(codes::kFail, "ODBC", ...) naming `what` when `utf8`
// is not UTF-8; the text itself is never shown (it may hold a password).
COdbcWideText ToOdbcWide(std::string_view utf8, std::string_view what);
// Unpaired surrogates become U+FFFD.
std::string FromOdbcWide(const SQLWCHAR* text, size_t length);

}  // namespace zx
