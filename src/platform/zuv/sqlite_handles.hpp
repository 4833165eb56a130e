#pragma once
// Owners of SQLite's handles and of a connection's write transaction.
#include <sqlite3.h>

#include <memory>

namespace zx {

struct CStatementDeleter {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, CStatementDeleter>;

struct CConnectionDeleter {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using ConnectionPtr = std::unique_ptr<sqlite3, CConnectionDeleter>;

// The write transaction of a connection, kept open across many writes. SQLite
// may end it on its own (a full disk rolls it back), so whether it is open is
// always asked of SQLite. One still open when the owner goes is rolled back.
class CWriteTransaction {
 public:
  // `db` is the owner's connection, read at each call (null once closed).
  explicit CWriteTransaction(const ConnectionPtr& db) noexcept : m_db(db) {}
  ~CWriteTransaction() { Rollback(); }
  CWriteTransaction(const CWriteTransaction&) = delete;
  CWriteTransaction& operator=(const CWriteTransaction&) = delete;

  bool IsOpen() const noexcept { return m_db && sqlite3_get_autocommit(m_db.get()) == 0; }
  // SQLite result codes.
  int Begin() noexcept { return Run("BEGIN"); }
  int Commit() noexcept { return Run("COMMIT"); }
  void Rollback() noexcept {
    if (IsOpen()) Run("ROLLBACK");
  }

 private:
  int Run(const char* sql) noexcept {
    return sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr);
  }

  const ConnectionPtr& m_db;
};

}  // namespace zx
