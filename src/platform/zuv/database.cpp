// Databases: statements, the batched write transaction and the schema.
#include <sqlite3.h>

#include <algorithm>

#include "platform/interruption.hpp"
#include "platform/zuv/database_impl.hpp"
#include "platform/zuv/sql_scan.hpp"
#include "platform/zuv/sqlite_errors.hpp"

namespace zx {

namespace {

constexpr int kRowsPerTransaction = 10000;

}  // namespace

sqlite3* CZuvDatabase::Impl::Handle() const {
  if (!m_db) ThrowEngine(codes::kEngineError, "The database '" + m_path + "' is closed.");
  return m_db.get();
}

StatementPtr CZuvDatabase::Impl::Prepare(std::string_view sql, const char** tail) {
  sqlite3* db = Handle();
  // Short statements finish before the progress handler looks: a stop
  // request also refuses every new one.
  if (InterruptionSignal() != 0) ThrowSqlite(SQLITE_INTERRUPT, "interrupted", Abbreviated(sql));
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, tail);
  StatementPtr stmt(raw);
  if (rc != SQLITE_OK) ThrowSqlite(rc, db, "in: " + Abbreviated(sql));
  return stmt;
}

void CZuvDatabase::Impl::BeginWrite() {
  if (m_lostWrites) throw *m_lostWrites;
  if (InTransaction()) return;
  Handle();
  if (int rc = m_transaction.Begin(); rc != SQLITE_OK) {
    ThrowSqlite(rc, m_db.get(), "starting a transaction");
  }
  m_writesSinceCommit = 0;
}

void CZuvDatabase::Impl::NoteWrites(int rows) {
  m_writesSinceCommit += std::max(rows, 1);
  if (m_writesSinceCommit < kRowsPerTransaction || !InTransaction()) return;
  if (m_transaction.Commit() == SQLITE_OK) {
    m_writesSinceCommit = 0;
  } else if (!InTransaction()) {
    FailWrite(SQLITE_ERROR, true, "committing to '" + m_path + "'");
  } else {
    m_writesSinceCommit = 0;  // the rows stay pending; the next period tries again
  }
}

void CZuvDatabase::Impl::Commit() {
  if (m_lostWrites) throw *m_lostWrites;
  if (!InTransaction()) {
    m_writesSinceCommit = 0;
    return;
  }
  // A stopped export's file is removed: its pending rows are rolled back, not synced.
  if (InterruptionSignal() != 0) {
    ThrowSqlite(SQLITE_INTERRUPT, "interrupted", "committing to '" + m_path + "'");
  }
  if (int rc = m_transaction.Commit(); rc != SQLITE_OK) {
    FailWrite(rc, true, "committing to '" + m_path + "'");
  }
  m_writesSinceCommit = 0;
}

void CZuvDatabase::Impl::FailWrite(int rc, bool wasInTransaction, std::string_view context) {
  const std::string message = MessageOf(m_db.get());
  if (wasInTransaction && !InTransaction()) {
    const int lost = m_writesSinceCommit;
    m_writesSinceCommit = 0;
    m_lostWrites.emplace(codes::kEngineError, kZuvEngineSource,
                         message + " (" + std::string(context) +
                             "; the transaction was rolled back and " + std::to_string(lost) +
                             " uncommitted row(s) were lost)");
    throw *m_lostWrites;
  }
  ThrowSqlite(rc, message, context);
}

void CZuvDatabase::Impl::Close() {
  if (!m_db) return;
  for (CZuvRecordset::Impl* recordset : std::vector(m_recordsets)) CloseRecordset(*recordset);
  std::optional<CExportError> failure;
  try {
    Commit();
  } catch (const CExportError& e) {
    failure = m_lostWrites
                  ? e
                  : CExportError(e.Code(), e.Source(),
                                 e.Description() + "; the uncommitted rows were not stored");
    m_transaction.Rollback();
  }
  m_db.reset();
  if (m_engine) {
    std::lock_guard lock(m_engine->m_mutex);
    std::erase(m_engine->m_open, this);
  }
  if (failure) throw *failure;
}

// ---------------------------------------------------------------------------

CZuvDatabase::CZuvDatabase(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CZuvDatabase::~CZuvDatabase() {
  try {
    m_impl->Close();
  } catch (...) {
    // Destructors never throw; callers that care call Close() first.
  }
}

void CZuvDatabase::Execute(const std::string& sql) {
  const char* tail = nullptr;
  StatementPtr stmt = m_impl->Prepare(sql, &tail);
  std::string_view rest(tail, sql.data() + sql.size() - tail);
  if (!stmt)
    ThrowEngine(codes::kSyntaxError, "The statement is empty. (in: " + Abbreviated(sql) + ")");
  // One statement only: a second one would run unseen by the caller.
  {
    StatementPtr next = m_impl->Prepare(rest);
    if (next) {
      ThrowEngine(codes::kSyntaxError,
                  "Only one statement can be executed at a time. (in: " + Abbreviated(sql) + ")");
    }
  }
  const bool readOnly = sqlite3_stmt_readonly(stmt.get()) != 0;
  const std::string keyword = FirstKeyword(sql);
  const bool dataChange = keyword == "INSERT" || keyword == "UPDATE" || keyword == "DELETE" ||
                          keyword == "REPLACE" || keyword == "WITH";
  if (!readOnly) {
    // Data changes join the running transaction; anything else (DDL, VACUUM)
    // runs on its own after the pending rows are committed.
    if (dataChange) {
      m_impl->BeginWrite();
    } else {
      m_impl->Commit();
    }
  }
  const bool wasInTransaction = m_impl->InTransaction();
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) m_impl->FailWrite(rc, wasInTransaction, "in: " + Abbreviated(sql));
  if (!readOnly && dataChange) m_impl->NoteWrites(sqlite3_changes(m_impl->m_db.get()));
}

bool CZuvDatabase::TableExists(const std::string& name) {
  StatementPtr stmt = m_impl->Prepare(
      "SELECT 1 FROM sqlite_schema WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(stmt.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowSqlite(rc, m_impl->m_db.get(), "listing tables");
  return rc == SQLITE_ROW;
}

std::vector<std::string> CZuvDatabase::TableNames() {
  StatementPtr stmt = m_impl->Prepare(
      "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
      "ESCAPE '\\' ORDER BY name");
  std::vector<std::string> names;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
  }
  if (rc != SQLITE_DONE) ThrowSqlite(rc, m_impl->m_db.get(), "listing tables");
  return names;
}

std::vector<CZuvDatabase::CColumn> CZuvDatabase::Columns(const std::string& table) {
  StatementPtr stmt = m_impl->Prepare(
      "SELECT name, type, \"notnull\", dflt_value IS NOT NULL FROM pragma_table_info(?1) "
      "ORDER BY cid");
  sqlite3_bind_text(stmt.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
  std::vector<CColumn> columns;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    CColumn column;
    column.name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    column.declaredType = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
    column.notNull = sqlite3_column_int(stmt.get(), 2) != 0;
    column.hasDefault = sqlite3_column_int(stmt.get(), 3) != 0;
    columns.push_back(std::move(column));
  }
  if (rc != SQLITE_DONE)
    ThrowSqlite(rc, m_impl->m_db.get(), "reading the columns of '" + table + "'");
  if (columns.empty())
    ThrowEngine(codes::kTableNotFound, "Could not find the table '" + table + "'.");
  return columns;
}

void CZuvDatabase::Close() { m_impl->Close(); }

const std::string& CZuvDatabase::Path() const { return m_impl->m_path; }

}  // namespace zx
