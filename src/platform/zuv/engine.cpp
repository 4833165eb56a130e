// The ZUV engine on SQLite: options, opening files, idle and compaction.
// Only the files of this folder see sqlite3.h.
//
// File settings, chosen for a file that is being rebuilt by the export:
// - rollback journal (journal_mode=DELETE), so the file stays one file;
// - synchronous=NORMAL: a process crash cannot corrupt the file at any
//   setting; only a power loss at the wrong moment could, and the file the
//   export writes is its own copy of the source (the source file is never
//   opened for writing), which it replaces atomically after compaction;
// - writes are grouped into transactions of 10,000 rows (database.cpp).
#include "platform/zuv/engine.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "platform/files.hpp"
#include "platform/interruption.hpp"
#include "platform/paths.hpp"
#include "platform/zuv/database_impl.hpp"
#include "platform/zuv/sqlite_errors.hpp"

namespace zx {

namespace {

constexpr int kBusyTimeoutMs = 3000;
// The options the export sets; the others are recorded and ignored.
constexpr int kOptionMaxBufferSize = 8;  // KiB of page cache per database (PRAGMA cache_size)
// Response tables are appended to in key order, so pages are written once and
// a cache beyond a few MiB buys no speed; capping it keeps an export's memory
// flat whatever its size.
constexpr int kMaxCacheKiB = 2048;
// 62 (locks per file) has no meaning here: SQLite locks the whole file.

// SQLite's memory statistics take one process-wide mutex on every allocation,
// which the writer and the read thread (the SQLite ODBC driver runs on the
// same library) then contend for; nothing here reads them. The setting only
// takes before SQLite starts, hence at load time.
// Multi-thread mode drops the per-connection mutex taken on every call (each
// column read in the driver): no connection here, nor the driver's, is used
// by two threads at once; the pipeline hands each over under a lock.
[[maybe_unused]] const bool kMemoryStatisticsOff = [] {
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
  return true;
}();

std::string AbsolutePath(const std::string& path) {
  // Absolute paths never start with "file:", so SQLite cannot take them for URIs.
  std::error_code ec;
  auto absolute = std::filesystem::absolute(PathFromUtf8(path), ec);
  return ec ? path : PathToUtf8(absolute);
}

// Every statement on an engine connection checks for a requested
// interruption every so many virtual machine steps and stops with
// SQLITE_INTERRUPT; an atomic load that often costs nothing measurable.
constexpr int kInterruptCheckSteps = 1000;

void StopOnInterruption(sqlite3* db) {
  sqlite3_progress_handler(
      db, kInterruptCheckSteps, [](void*) -> int { return InterruptionSignal() != 0 ? 1 : 0; },
      nullptr);
}

}  // namespace

CZuvEngine::CZuvEngine() : m_state(std::make_shared<CZuvEngineState>()) {}

CZuvEngine::~CZuvEngine() = default;

void CZuvEngine::SetOption(int option, int value) {
  std::lock_guard lock(m_state->m_mutex);
  m_state->m_options[option] = value;
}

std::string CZuvEngine::Version() const { return std::string("SQLite ") + sqlite3_libversion(); }

std::unique_ptr<CZuvDatabase> CZuvEngine::OpenDatabase(const std::string& path, bool exclusive) {
  std::error_code ec;
  const auto status = std::filesystem::status(PathFromUtf8(path), ec);
  if (path.empty() || !std::filesystem::exists(status)) {
    ThrowEngine(codes::kFileNotFound, "Could not find file '" + path + "'.");
  }
  if (!std::filesystem::is_regular_file(status)) {
    ThrowEngine(codes::kNotADatabase,
                "'" + path + "' is not a ZUV database file (not a regular file).");
  }
  auto impl = std::make_unique<CZuvDatabase::Impl>();
  impl->m_path = path;
  sqlite3* raw = nullptr;
  // Without SQLITE_OPEN_CREATE: a file that vanished since the check is an error, never a new file.
  const int rc = sqlite3_open_v2(AbsolutePath(path).c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  impl->m_db.reset(raw);
  if (rc != SQLITE_OK) {
    if ((rc & 0xff) == SQLITE_CANTOPEN && !std::filesystem::exists(PathFromUtf8(path), ec)) {
      ThrowEngine(codes::kFileNotFound, "Could not find file '" + path + "'.");
    }
    ThrowSqlite(rc, raw, "opening '" + path + "'");
  }
  sqlite3* db = raw;
  sqlite3_extended_result_codes(db, 1);
  StopOnInterruption(db);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (sqlite3_db_readonly(db, "main") == 1) {
    ThrowEngine(codes::kEngineError, "Could not open '" + path + "' for writing: it is read-only.");
  }
  auto run = [&](const std::string& sql) {
    if (int rc2 = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); rc2 != SQLITE_OK) {
      if ((rc2 & 0xff) == SQLITE_NOTADB) {
        ThrowEngine(codes::kNotADatabase,
                    "'" + path + "' is not a ZUV database file (" + sqlite3_errmsg(db) + ").");
      }
      if ((rc2 & 0xff) == SQLITE_BUSY) {
        ThrowEngine(codes::kEngineError,
                    "Could not use '" + path + "': the file is in use by another process.");
      }
      ThrowSqlite(rc2, db, "opening '" + path + "'");
    }
  };
  // Reading the schema proves the file is a SQLite database.
  run("SELECT count(*) FROM sqlite_schema");
  int cacheKiB = 0;
  {
    std::lock_guard lock(m_state->m_mutex);
    if (auto it = m_state->m_options.find(kOptionMaxBufferSize); it != m_state->m_options.end()) {
      cacheKiB = std::min(it->second, kMaxCacheKiB);
    }
  }
  if (exclusive) run("PRAGMA locking_mode=EXCLUSIVE");
  run("PRAGMA journal_mode=DELETE");
  run("PRAGMA synchronous=NORMAL");
  if (cacheKiB > 0) run("PRAGMA cache_size=-" + std::to_string(cacheKiB));
  // In exclusive mode the lock is taken by the first write and then kept:
  // take it now, so that a second user fails here and not halfway through.
  if (exclusive) run("BEGIN EXCLUSIVE; COMMIT");

  impl->m_engine = m_state;
  {
    std::lock_guard lock(m_state->m_mutex);
    m_state->m_open.push_back(impl.get());
  }
  return std::unique_ptr<CZuvDatabase>(new CZuvDatabase(std::move(impl)));
}

void CZuvEngine::Idle() {
  std::vector<CZuvDatabase::Impl*> open;
  {
    std::lock_guard lock(m_state->m_mutex);
    open = m_state->m_open;
  }
  for (CZuvDatabase::Impl* db : open) {
    db->Commit();
    if (db->m_db) sqlite3_db_release_memory(db->m_db.get());
  }
}

void CZuvEngine::CompactDatabase(const std::string& from, const std::string& to) {
  std::error_code ec;
  if (from.empty() || !std::filesystem::is_regular_file(PathFromUtf8(from), ec)) {
    ThrowEngine(codes::kFileNotFound, "Could not find file '" + from + "'.");
  }
  if (to.empty() ||
      std::filesystem::exists(std::filesystem::symlink_status(PathFromUtf8(to), ec))) {
    ThrowEngine(codes::kEngineError,
                "Could not compact into '" + to + "': the file already exists.");
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(AbsolutePath(from).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  ConnectionPtr db(raw);
  if (rc != SQLITE_OK) ThrowSqlite(rc, raw, "opening '" + from + "' to compact it");
  sqlite3_extended_result_codes(raw, 1);
  StopOnInterruption(raw);
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);

  const std::string target = AbsolutePath(to);
  sqlite3_stmt* stmtRaw = nullptr;
  int step = sqlite3_prepare_v2(raw, "VACUUM INTO ?1", -1, &stmtRaw, nullptr);
  StatementPtr stmt(stmtRaw);
  if (step == SQLITE_OK) {
    sqlite3_bind_text(stmtRaw, 1, target.c_str(), -1, SQLITE_STATIC);
    step = sqlite3_step(stmtRaw);
  }
  if (step != SQLITE_DONE) {
    const std::string message = sqlite3_errmsg(raw);
    stmt.reset();
    db.reset();
    // Only a file this call created is removed: `to` did not exist before.
    std::filesystem::remove(PathFromUtf8(to), ec);
    if ((step & 0xff) == SQLITE_NOTADB) {
      ThrowEngine(codes::kNotADatabase,
                  "'" + from + "' is not a ZUV database file (" + message + ").");
    }
    ThrowSqlite(step, message, "compacting '" + from + "' into '" + to + "'");
  }
  stmt.reset();
  db.reset();
  SyncPath(target, false);
  SyncPath(PathToUtf8(PathFromUtf8(target).parent_path()), true);
}

}  // namespace zx
