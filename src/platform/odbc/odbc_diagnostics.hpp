#pragma once
// ODBC diagnostics: a failed call becomes CExportError(codes::kFail) with the
// driver's records, here and only here.
#include "platform/odbc/odbc_api.hpp"

#include <string_view>

namespace zx {

// Every diagnostic record of the handle, the driver's component text as the source.
[[noreturn]] void ThrowOdbcError(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc,
                                 std::string_view call);
// Throws for a failure, and for a success "with information" that carries an error.
void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view call);
// Sets a statement option, passing over one the driver does not implement.
void SetOptionalStatementAttr(SQLHSTMT statement, SQLINTEGER attribute, SQLULEN value);

}  // namespace zx
