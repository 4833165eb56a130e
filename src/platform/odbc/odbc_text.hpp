#pragma once
// Texts at the driver manager's wide entry points: the program's texts are
// UTF-8, the driver manager's wide ones UTF-16 (SQLWCHAR). Narrow calls would
// leave the driver to guess the encoding, and FreeTDS takes narrow login
// fields for ISO 8859-1.
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>

namespace zx {

using COdbcWideText = std::basic_string<SQLWCHAR>;

// Throws CExportError(codes::kFail, "ODBC", ...) naming `what` when `utf8`
// is not UTF-8; the text itself is never shown (it may hold a password).
COdbcWideText ToOdbcWide(std::string_view utf8, std::string_view what);
// Unpaired surrogates become U+FFFD.
std::string FromOdbcWide(const SQLWCHAR* text, size_t length);

}  // namespace zx
