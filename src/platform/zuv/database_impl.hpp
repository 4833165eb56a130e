#pragma once
// What the engine, its databases and their dynasets share inside the engine.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"
#include "platform/zuv/engine.hpp"
#include "platform/zuv/sqlite_handles.hpp"

namespace zx {

struct CZuvEngineState {
  std::mutex m_mutex;
  std::vector<CZuvDatabase::Impl*> m_open;  // guarded by m_mutex
  std::map<int, int> m_options;             // guarded by m_mutex
};

struct CZuvDatabase::Impl {
  std::string m_path;
  ConnectionPtr m_db;
  // Declared after m_db: an open transaction is rolled back before the
  // connection closes.
  CWriteTransaction m_transaction{m_db};
  std::shared_ptr<CZuvEngineState> m_engine;
  std::vector<CZuvRecordset::Impl*> m_recordsets;
  int m_writesSinceCommit = 0;
  // Set once SQLite has rolled back rows the caller was told were stored:
  // every later write, commit and Close fails with it, so that no caller
  // tolerating write errors can carry on as if the file were complete.
  std::optional<CExportError> m_lostWrites;

  sqlite3* Handle() const;
  StatementPtr Prepare(std::string_view sql, const char** tail = nullptr);
  bool InTransaction() const { return m_transaction.IsOpen(); }
  void BeginWrite();
  // Called after a write has succeeded. A periodic commit that fails while
  // the transaction stays open is retried later (at the next period, Idle or
  // Close): the write itself is stored, so the caller must not see it fail
  // and write the row twice. A commit that lost the transaction throws.
  void NoteWrites(int rows);
  void Commit();
  // A failed write of an open transaction may have made SQLite roll the
  // whole transaction back (disk full, I/O errors). The rows of that
  // transaction are then gone: that must not pass for a retryable 3035, or
  // the writer would resume after them and lose them silently.
  [[noreturn]] void FailWrite(int rc, bool wasInTransaction, std::string_view context);
  void Close();

  // Detaches a dynaset of this database; defined with the dynaset.
  static void CloseRecordset(CZuvRecordset::Impl& recordset);
};

}  // namespace zx
