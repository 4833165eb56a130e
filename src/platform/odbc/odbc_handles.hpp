#pragma once
// ODBC handles: one owner each, freed when the owner goes.
#include "platform/odbc/odbc_api.hpp"

#include <memory>

namespace zx {

struct CEnvDeleter {
  void operator()(SQLHENV env) const noexcept { SQLFreeHandle(SQL_HANDLE_ENV, env); }
};
struct CDbcDeleter {
  void operator()(SQLHDBC dbc) const noexcept { SQLFreeHandle(SQL_HANDLE_DBC, dbc); }
};
struct CStmtDeleter {
  void operator()(SQLHSTMT stmt) const noexcept { SQLFreeHandle(SQL_HANDLE_STMT, stmt); }
};
using CEnvHandle = std::unique_ptr<void, CEnvDeleter>;
using CDbcHandle = std::unique_ptr<void, CDbcDeleter>;
using CStmtHandle = std::unique_ptr<void, CStmtDeleter>;

}  // namespace zx
