#pragma once
// ODBC diagnostics: a failed call becomes CExportError(codes::kFail) with the
// driver's records, here and only here.
#include "platform/odbc/odbc_api.hpp"

#include <string_view>

#include "platform/odbc/odbc_text.hpp"

namespace zx {

// Every diagnostic record of the handle, the driver's component text as the
// source; `texts` as the handle's connection takes them.
[[noreturn]] void ThrowOdbcError(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc,
                                 std::string_view call, COdbcTexts texts);
// Throws for a failure, and for a success "with information" that carries an error.
void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view call,
           COdbcTexts texts);
// Sets a statement option, passing over one the driver does not implement.
void SetOptionalStatementAttr(SQLHSTMT statement, SQLINTEGER attribute, SQLULEN value,
                              COdbcTexts texts);

}  // namespace zx
