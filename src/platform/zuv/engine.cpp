// The ZUV engine on SQLite. Only this file (and the test seam beside it,
// fault_injection.cpp) sees sqlite3.h.
//
// File settings, chosen for a file that is being rebuilt by the export:
// - rollback journal (journal_mode=DELETE), so the file stays one file;
// - synchronous=NORMAL: a process crash cannot corrupt the file at any
//   setting; only a power loss at the wrong moment could, and the file the
//   export writes is its own copy of the source (the source file is never
//   opened for writing), which it replaces atomically after compaction;
// - writes are grouped into transactions of kRowsPerTransaction rows.
#include "platform/zuv/engine.hpp"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/error.hpp"
#include "platform/interruption.hpp"
#include "platform/unique_fd.hpp"

namespace zx {

namespace {

constexpr char kSource[] = "ZUV engine";
constexpr int kRowsPerTransaction = 10000;
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

struct CStatementDeleter {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, CStatementDeleter>;

struct CConnectionDeleter {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using ConnectionPtr = std::unique_ptr<sqlite3, CConnectionDeleter>;

struct CTextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};
template <typename T>
using TextMap = std::unordered_map<std::string, T, CTextHash, std::equal_to<>>;

std::string FoldAscii(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string Abbreviated(std::string_view sql) {
  constexpr size_t kMax = 200;
  if (sql.size() <= kMax) return std::string(sql);
  return std::string(sql.substr(0, kMax)) + "...";
}

// Every SQLite result code becomes an exporter error here, and only here.
[[noreturn]] void ThrowSqlite(int rc, std::string_view message, std::string_view context) {
  const int primary = rc & 0xff;
  uint32_t code = codes::kEngineError;
  std::string prefix;
  if (primary == SQLITE_FULL || primary == SQLITE_NOMEM || rc == SQLITE_IOERR_NOMEM) {
    code = codes::kResourcesExceeded;
  } else if (rc == SQLITE_CONSTRAINT_NOTNULL) {
    code = codes::kRequiredFieldEmpty;
  } else if (primary == SQLITE_NOTADB) {
    code = codes::kNotADatabase;
  } else if (primary == SQLITE_ERROR) {
    // SQLite has no distinct codes for these; its messages are stable.
    if (StartsWith(message, "no such column")) {
      code = codes::kTooFewParameters;
      prefix = "Too few parameters. Expected 1. ";
    } else if (StartsWith(message, "no such table")) {
      code = codes::kTableNotFound;
    } else if (message.find("syntax error") != std::string_view::npos ||
               StartsWith(message, "incomplete input") ||
               StartsWith(message, "unrecognized token")) {
      code = codes::kSyntaxError;
    }
  }
  std::string description = prefix + std::string(message);
  if (!context.empty()) description += " (" + std::string(context) + ")";
  throw CExportError(code, kSource, std::move(description));
}

[[noreturn]] void ThrowSqlite(int rc, sqlite3* db, std::string_view context) {
  ThrowSqlite(rc, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc), context);
}

[[noreturn]] void ThrowEngine(uint32_t code, std::string description) {
  throw CExportError(code, kSource, std::move(description));
}

[[noreturn]] void ThrowItemNotFound(std::string_view what, std::string_view table) {
  ThrowEngine(codes::kMissingField, "Item not found in this collection. (field " +
                                        std::string(what) + " of '" + std::string(table) + "')");
}

// Identifiers are always double-quoted with quotes doubled, whatever they hold.
std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

std::string StripBrackets(std::string_view name) {
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.front())))
    name.remove_prefix(1);
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())))
    name.remove_suffix(1);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  return std::string(name);
}

std::string FirstKeyword(std::string_view sql) {
  size_t i = 0;
  while (i < sql.size() && !std::isalpha(static_cast<unsigned char>(sql[i]))) ++i;
  size_t j = i;
  while (j < sql.size() && std::isalpha(static_cast<unsigned char>(sql[j]))) ++j;
  std::string word(sql.substr(i, j - i));
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word;
}

// What a one-table SELECT reads from, found by a small scan that respects
// quotes, brackets and parentheses.
struct CSelectShape {
  std::string table;       // empty when the FROM clause is not one plain table
  size_t afterSelect = 0;  // offset just after the SELECT keyword
  bool distinct = false;
};

CSelectShape ScanSelect(std::string_view sql) {
  CSelectShape shape;
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  };
  auto readWord = [&] {
    size_t start = i;
    while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_'))
      ++i;
    return FoldAscii(sql.substr(start, i - start));
  };
  auto skipQuoted = [&](char close) {
    ++i;
    while (i < sql.size()) {
      if (sql[i] == close) {
        if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
          i += 2;
          continue;
        }
        ++i;
        return;
      }
      ++i;
    }
  };
  skipSpace();
  if (readWord() != "select") return shape;
  shape.afterSelect = i;
  skipSpace();
  size_t save = i;
  std::string first = readWord();
  shape.distinct = first == "distinct" || first == "all";
  i = save;
  int depth = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '`') {
      skipQuoted(c);
    } else if (c == '[') {
      skipQuoted(']');
    } else if (c == '(') {
      ++depth, ++i;
    } else if (c == ')') {
      --depth, ++i;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::string word = readWord();
      if (depth == 0 && word == "from") break;
    } else {
      ++i;
    }
  }
  if (i >= sql.size()) return shape;
  skipSpace();
  std::string table;
  if (i < sql.size() && (sql[i] == '[' || sql[i] == '"' || sql[i] == '`')) {
    char close = sql[i] == '[' ? ']' : sql[i];
    size_t start = i;
    skipQuoted(close);
    std::string_view token = sql.substr(start + 1, i - start - 2);
    if (close == ']') {
      table = std::string(token);
    } else {
      for (size_t k = 0; k < token.size(); ++k) {
        table += token[k];
        if (token[k] == close && k + 1 < token.size() && token[k + 1] == close) ++k;
      }
    }
  } else {
    size_t start = i;
    while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_'))
      ++i;
    table = std::string(sql.substr(start, i - start));
  }
  skipSpace();
  // A comma or a join after the table means more than one table.
  save = i;
  std::string next = readWord();
  if (i < sql.size() && sql[save] == ',') return shape;
  if (next == "join" || next == "inner" || next == "left" || next == "cross" || next == "natural" ||
      next == "right" || next == "full") {
    return shape;
  }
  shape.table = std::move(table);
  return shape;
}

CValue ReadColumn(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: {
      // Int32 when it fits: the callers read keys and codes as Long values.
      const sqlite3_int64 v = sqlite3_column_int64(stmt, column);
      if (v >= INT32_MIN && v <= INT32_MAX) return CValue::FromInt32(static_cast<int32_t>(v));
      return CValue::FromInt64(v);
    }
    case SQLITE_FLOAT:
      return CValue::FromDouble(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return CValue::FromText(std::string(text, sqlite3_column_bytes(stmt, column)));
    }
    case SQLITE_BLOB: {
      const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, column));
      const int size = sqlite3_column_bytes(stmt, column);
      return CValue::FromBinary(std::vector<uint8_t>(data, data + size));
    }
    default:
      return CValue();
  }
}

// REQUIRES: `value` outlives the sqlite3_step that uses it (texts and blobs
// are bound without a copy; sqlite3_reset keeps bindings, so every use of a
// statement binds all its parameters again).
int BindValue(sqlite3_stmt* stmt, int parameter, const CValue& value) {
  switch (value.GetType()) {
    case CValue::Type::Null:
      return sqlite3_bind_null(stmt, parameter);
    case CValue::Type::Int16:
      return sqlite3_bind_int(stmt, parameter, value.Int16());
    case CValue::Type::Int32:
      return sqlite3_bind_int(stmt, parameter, value.Int32());
    case CValue::Type::Int64:
      return sqlite3_bind_int64(stmt, parameter, value.Int64());
    case CValue::Type::Double:
      return sqlite3_bind_double(stmt, parameter, value.Double());
    case CValue::Type::Bool:
      // SQLite's own truth values; the files are read by SQL, not by Access.
      return sqlite3_bind_int(stmt, parameter, value.Bool() ? 1 : 0);
    case CValue::Type::Text:
      return sqlite3_bind_text64(stmt, parameter, value.Text().data(), value.Text().size(),
                                 SQLITE_STATIC, SQLITE_UTF8);
    case CValue::Type::DateTime: {
      const std::string text = value.DateTime().ToIsoText();
      return sqlite3_bind_text64(stmt, parameter, text.data(), text.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    }
    case CValue::Type::Binary: {
      const auto& bytes = value.Binary().bytes;
      if (bytes.empty()) return sqlite3_bind_zeroblob(stmt, parameter, 0);
      return sqlite3_bind_blob64(stmt, parameter, bytes.data(), bytes.size(), SQLITE_STATIC);
    }
  }
  return SQLITE_MISUSE;
}

std::mutex g_faultHookMutex;
ZuvFaultHook g_faultHook;  // guarded by g_faultHookMutex
std::atomic<bool> g_faultHookSet{false};

void CallFaultHook(std::string_view operation, std::string_view table) {
  if (!g_faultHookSet.load(std::memory_order_acquire)) return;
  ZuvFaultHook hook;
  {
    std::lock_guard lock(g_faultHookMutex);
    hook = g_faultHook;
  }
  if (!hook) return;
  if (const uint32_t code = hook(operation, table); code != 0) {
    ThrowEngine(code, "Injected failure");
  }
}

std::string AbsolutePath(const std::string& path) {
  // Absolute paths never start with "file:", so SQLite cannot take them for URIs.
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
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

void FsyncPath(const std::string& path, bool directory) {
  const CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0)));
  if (!fd.Valid()) ThrowErrno(kSource, "Could not open '" + path + "' to sync it", errno);
  if (::fsync(fd.Get()) != 0) ThrowErrno(kSource, "Could not sync '" + path + "'", errno);
}

}  // namespace

// ---------------------------------------------------------------------------

struct CZuvEngineState {
  std::mutex m_mutex;
  std::vector<CZuvDatabase::Impl*> m_open;  // guarded by m_mutex
  std::map<int, int> m_options;             // guarded by m_mutex
};

struct CZuvDatabase::Impl {
  std::string m_path;
  ConnectionPtr m_db;
  std::shared_ptr<CZuvEngineState> m_engine;
  std::vector<CZuvRecordset::Impl*> m_recordsets;
  int m_writesSinceCommit = 0;
  // Set once SQLite has rolled back rows the caller was told were stored:
  // every later write, commit and Close fails with it, so that no caller
  // tolerating write errors can carry on as if the file were complete.
  std::optional<CExportError> m_lostWrites;

  sqlite3* Handle() const {
    if (!m_db) ThrowEngine(codes::kEngineError, "The database '" + m_path + "' is closed.");
    return m_db.get();
  }

  StatementPtr Prepare(std::string_view sql, const char** tail = nullptr) {
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

  bool InTransaction() const { return m_db && sqlite3_get_autocommit(m_db.get()) == 0; }

  void BeginWrite() {
    if (m_lostWrites) throw *m_lostWrites;
    if (InTransaction()) return;
    if (int rc = sqlite3_exec(Handle(), "BEGIN", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
      ThrowSqlite(rc, m_db.get(), "starting a transaction");
    }
    m_writesSinceCommit = 0;
  }

  // Called after a write has succeeded. A periodic commit that fails while
  // the transaction stays open is retried later (at the next period, Idle or
  // Close): the write itself is stored, so the caller must not see it fail
  // and write the row twice. A commit that lost the transaction throws.
  void NoteWrites(int rows) {
    m_writesSinceCommit += std::max(rows, 1);
    if (m_writesSinceCommit < kRowsPerTransaction || !InTransaction()) return;
    if (sqlite3_exec(m_db.get(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
      m_writesSinceCommit = 0;
    } else if (!InTransaction()) {
      FailWrite(SQLITE_ERROR, true, "committing to '" + m_path + "'");
    } else {
      m_writesSinceCommit = 0;  // the rows stay pending; the next period tries again
    }
  }

  void Commit() {
    if (m_lostWrites) throw *m_lostWrites;
    if (!InTransaction()) {
      m_writesSinceCommit = 0;
      return;
    }
    // A stopped export's file is removed: its pending rows are rolled back, not synced.
    if (InterruptionSignal() != 0) {
      ThrowSqlite(SQLITE_INTERRUPT, "interrupted", "committing to '" + m_path + "'");
    }
    if (int rc = sqlite3_exec(m_db.get(), "COMMIT", nullptr, nullptr, nullptr); rc != SQLITE_OK) {
      FailWrite(rc, true, "committing to '" + m_path + "'");
    }
    m_writesSinceCommit = 0;
  }

  // A failed write of an open transaction may have made SQLite roll the
  // whole transaction back (disk full, I/O errors). The rows of that
  // transaction are then gone: that must not pass for a retryable 3035, or
  // the writer would resume after them and lose them silently.
  [[noreturn]] void FailWrite(int rc, bool wasInTransaction, std::string_view context) {
    const std::string message = sqlite3_errmsg(m_db.get());
    if (wasInTransaction && !InTransaction()) {
      const int lost = m_writesSinceCommit;
      m_writesSinceCommit = 0;
      m_lostWrites.emplace(codes::kEngineError, kSource,
                           message + " (" + std::string(context) +
                               "; the transaction was rolled back and " + std::to_string(lost) +
                               " uncommitted row(s) were lost)");
      throw *m_lostWrites;
    }
    ThrowSqlite(rc, message, context);
  }

  void Close();
};

// Tables with DEFAULT columns may still vary their INSERT per row; keep that bounded.
constexpr size_t kMaxCachedInserts = 64;

struct CZuvRecordset::Impl {
  CZuvDatabase::Impl* m_db = nullptr;  // null once closed
  std::string m_table;                 // as SQLite names it; empty when unknown
  std::string m_selectSql;             // what loading and Requery run
  bool m_hasRowid = false;             // result column 0 is the rowid
  std::string m_rowidName;             // its name: one no column of the table hides
  bool m_loaded = false;

  std::vector<std::string> m_fieldNames;
  std::vector<std::string> m_fieldColumns;  // the table column behind each field, or empty
  TextMap<int> m_fieldIndex;
  TextMap<int> m_foldedFieldIndex;

  std::vector<std::vector<CValue>> m_rows;
  std::vector<sqlite3_int64> m_rowids;
  size_t m_position = 0;

  enum class Mode { None, Adding, Editing };
  Mode m_mode = Mode::None;
  std::vector<CValue> m_pending;
  std::vector<uint64_t> m_setMask;  // one bit per field set since AddNew/Edit
  // Columns without a DEFAULT: an INSERT always names them, binding NULL when
  // unset (the same as leaving them out), so rows that skip different NULL
  // values share one prepared statement.
  std::vector<uint64_t> m_insertAlwaysMask;
  std::vector<uint64_t> m_insertMask;  // scratch: m_setMask | m_insertAlwaysMask
  // Keyed by the bytes of the insert mask: one INSERT per combination of fields.
  TextMap<StatementPtr> m_insertCache;

  CZuvDatabase::Impl& Db() const {
    if (m_db == nullptr) ThrowEngine(codes::kEngineError, "The recordset is closed.");
    return *m_db;
  }

  void InitFields(std::vector<std::string> names, std::vector<std::string> columns) {
    m_fieldNames = std::move(names);
    m_fieldColumns = std::move(columns);
    for (int i = 0; i < static_cast<int>(m_fieldNames.size()); ++i) {
      m_fieldIndex.emplace(m_fieldNames[i], i);
      m_foldedFieldIndex.emplace(FoldAscii(m_fieldNames[i]), i);
    }
    m_pending.assign(m_fieldNames.size(), CValue());
    m_setMask.assign((m_fieldNames.size() + 63) / 64, 0);
    m_insertAlwaysMask.assign(m_setMask.size(), 0);
    m_insertMask.assign(m_setMask.size(), 0);
  }

  void MarkInsertedAlways(const std::vector<bool>& always) {
    for (size_t i = 0; i < always.size() && i < m_fieldNames.size(); ++i) {
      if (always[i]) m_insertAlwaysMask[i / 64] |= uint64_t{1} << (i % 64);
    }
  }

  int Lookup(std::string_view name) const {
    if (auto it = m_fieldIndex.find(name); it != m_fieldIndex.end()) return it->second;
    if (auto it = m_foldedFieldIndex.find(FoldAscii(name)); it != m_foldedFieldIndex.end()) {
      return it->second;
    }
    ThrowItemNotFound("'" + std::string(name) + "'", m_table);
  }

  // REQUIRES: index is a valid field position.
  void SetPending(int index, CValue value) {
    if (m_mode == Mode::None) {
      ThrowEngine(codes::kEngineError, "Update or CancelUpdate without AddNew or Edit.");
    }
    if (m_fieldColumns[index].empty()) {
      ThrowEngine(codes::kEngineError, "The field '" + m_fieldNames[index] + "' cannot be updated.");
    }
    m_pending[index] = std::move(value);
    m_setMask[index / 64] |= uint64_t{1} << (index % 64);
  }

  void CheckIndex(int index) const {
    if (index < 0 || index >= static_cast<int>(m_fieldNames.size())) {
      ThrowItemNotFound("#" + std::to_string(index), m_table);
    }
  }

  void EnsureLoaded() {
    if (m_loaded) return;
    StatementPtr stmt = Db().Prepare(m_selectSql);
    m_rows.clear();
    m_rowids.clear();
    const int offset = m_hasRowid ? 1 : 0;
    const int fields = static_cast<int>(m_fieldNames.size());
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      std::vector<CValue> row;
      row.reserve(fields);
      for (int i = 0; i < fields; ++i) row.push_back(ReadColumn(stmt.get(), i + offset));
      m_rows.push_back(std::move(row));
      m_rowids.push_back(m_hasRowid ? sqlite3_column_int64(stmt.get(), 0) : 0);
    }
    if (rc != SQLITE_DONE) ThrowSqlite(rc, m_db->m_db.get(), "in: " + Abbreviated(m_selectSql));
    m_position = 0;
    m_loaded = true;
  }

  void ClearPending() {
    for (size_t w = 0; w < m_setMask.size(); ++w) {
      for (uint64_t bits = m_setMask[w]; bits != 0; bits &= bits - 1) {
        m_pending[w * 64 + std::countr_zero(bits)] = CValue();
      }
      m_setMask[w] = 0;
    }
    m_mode = Mode::None;
  }

  template <typename F>
  static void ForEachBit(const std::vector<uint64_t>& mask, F&& f) {
    for (size_t w = 0; w < mask.size(); ++w) {
      for (uint64_t bits = mask[w]; bits != 0; bits &= bits - 1) {
        f(static_cast<int>(w * 64 + std::countr_zero(bits)));
      }
    }
  }
  template <typename F>
  void ForEachSet(F&& f) const {
    ForEachBit(m_setMask, f);
  }

  // Fills m_insertMask for the pending record and returns its INSERT.
  sqlite3_stmt* InsertStatement() {
    for (size_t w = 0; w < m_setMask.size(); ++w) m_insertMask[w] = m_setMask[w] | m_insertAlwaysMask[w];
    std::string_view key(reinterpret_cast<const char*>(m_insertMask.data()),
                         m_insertMask.size() * sizeof(uint64_t));
    if (auto it = m_insertCache.find(key); it != m_insertCache.end()) return it->second.get();
    if (m_insertCache.size() >= kMaxCachedInserts) m_insertCache.clear();
    std::string columns, values;
    ForEachBit(m_insertMask, [&](int i) {
      if (!columns.empty()) columns += ',', values += ',';
      columns += QuoteIdentifier(m_fieldColumns[i]);
      values += '?';
    });
    std::string sql =
        "INSERT INTO " + QuoteIdentifier(m_table) +
        (columns.empty() ? " DEFAULT VALUES" : " (" + columns + ") VALUES (" + values + ")");
    auto [it, inserted] = m_insertCache.emplace(std::string(key), Db().Prepare(sql));
    return it->second.get();
  }

  void RunWrite(sqlite3_stmt* stmt, std::string_view what, const std::vector<uint64_t>& mask) {
    CZuvDatabase::Impl& db = Db();
    int parameter = 0;
    int rc = SQLITE_OK;
    ForEachBit(mask, [&](int i) {
      if (rc == SQLITE_OK) rc = BindValue(stmt, ++parameter, m_pending[i]);
    });
    if (rc != SQLITE_OK) {
      sqlite3_reset(stmt);
      ThrowSqlite(rc, db.m_db.get(), std::string(what) + " '" + m_table + "'");
    }
    const bool wasInTransaction = db.InTransaction();
    rc = sqlite3_step(stmt);
    // The bindings stay after a reset; the next use rebinds every parameter.
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE)
      db.FailWrite(rc, wasInTransaction, std::string(what) + " '" + m_table + "'");
  }

  void UpdateEdited() {
    std::string assignments;
    ForEachSet([&](int i) {
      if (!assignments.empty()) assignments += ',';
      assignments += QuoteIdentifier(m_fieldColumns[i]) + "=?";
    });
    if (assignments.empty()) return;
    StatementPtr stmt = Db().Prepare("UPDATE " + QuoteIdentifier(m_table) + " SET " + assignments +
                                     " WHERE " + m_rowidName + "=?");
    const int rowidParameter = sqlite3_bind_parameter_count(stmt.get());
    sqlite3_bind_int64(stmt.get(), rowidParameter, m_rowids[m_position]);
    RunWrite(stmt.get(), "updating a row of", m_setMask);
    RefreshCurrentRow();
  }

  // The dynaset shows the edited row as the file now holds it.
  void RefreshCurrentRow() {
    std::string columns;
    std::vector<int> fields;
    for (int i = 0; i < static_cast<int>(m_fieldColumns.size()); ++i) {
      if (m_fieldColumns[i].empty()) continue;
      if (!columns.empty()) columns += ',';
      columns += QuoteIdentifier(m_fieldColumns[i]);
      fields.push_back(i);
    }
    if (fields.empty()) return;
    StatementPtr stmt = Db().Prepare("SELECT " + columns + " FROM " + QuoteIdentifier(m_table) +
                                     " WHERE " + m_rowidName + "=?");
    sqlite3_bind_int64(stmt.get(), 1, m_rowids[m_position]);
    if (sqlite3_step(stmt.get()) == SQLITE_ROW) {
      for (size_t k = 0; k < fields.size(); ++k) {
        m_rows[m_position][fields[k]] = ReadColumn(stmt.get(), static_cast<int>(k));
      }
    }
  }

  void Close() {
    m_insertCache.clear();
    if (m_db != nullptr) {
      std::erase(m_db->m_recordsets, this);
      m_db = nullptr;
    }
    m_mode = Mode::None;
  }
};

void CZuvDatabase::Impl::Close() {
  if (!m_db) return;
  for (CZuvRecordset::Impl* recordset : std::vector(m_recordsets)) recordset->Close();
  std::optional<CExportError> failure;
  try {
    Commit();
  } catch (const CExportError& e) {
    failure = m_lostWrites
                  ? e
                  : CExportError(e.Code(), e.Source(),
                                 e.Description() + "; the uncommitted rows were not stored");
    sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
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

std::unique_ptr<CZuvRecordset> CZuvDatabase::OpenRecordset(const std::string& tableOrSelect) {
  sqlite3* db = m_impl->Handle();
  auto rs = std::make_unique<CZuvRecordset::Impl>();
  rs->m_db = m_impl.get();

  auto canonicalTable = [&](const std::string& name) -> std::string {
    StatementPtr stmt = m_impl->Prepare(
        "SELECT name FROM sqlite_schema WHERE type IN ('table','view') AND name = ?1 COLLATE "
        "NOCASE");
    sqlite3_bind_text(stmt.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) return {};
    return reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  };
  // The rowid under a name that no column of the table hides.
  auto rowidName = [&](const std::string& table) -> std::string {
    std::unordered_set<std::string> names;
    for (const auto& column : Columns(table)) names.insert(FoldAscii(column.name));
    for (const char* candidate : {"_rowid_", "rowid", "oid"}) {
      if (!names.contains(candidate)) return candidate;
    }
    return {};
  };

  if (FirstKeyword(tableOrSelect) != "SELECT") {
    const std::string name = StripBrackets(tableOrSelect);
    rs->m_table = canonicalTable(name);
    if (rs->m_table.empty()) {
      ThrowEngine(codes::kTableNotFound, "Could not find the table '" + name + "'.");
    }
    // Nothing is read here: response tables are opened to be appended to.
    std::vector<std::string> names;
    std::vector<bool> withoutDefault;
    for (auto& column : Columns(rs->m_table)) {
      names.push_back(std::move(column.name));
      withoutDefault.push_back(!column.hasDefault);
    }
    const std::string rowid = rowidName(rs->m_table);
    rs->m_hasRowid = !rowid.empty();
    rs->m_rowidName = rowid;
    rs->m_selectSql = "SELECT " + (rs->m_hasRowid ? rowid + ", " : std::string()) + "* FROM " +
                      QuoteIdentifier(rs->m_table);
    std::vector<std::string> columns = names;
    rs->InitFields(std::move(names), std::move(columns));
    rs->MarkInsertedAlways(withoutDefault);
  } else {
    const CSelectShape shape = ScanSelect(tableOrSelect);
    if (!shape.table.empty()) rs->m_table = canonicalTable(shape.table);
    StatementPtr stmt;
    if (!rs->m_table.empty() && !shape.distinct) {
      const std::string rowid = rowidName(rs->m_table);
      if (!rowid.empty()) {
        // With the rowid in front, Edit can find the current row again.
        const std::string rewritten =
            "SELECT " + rowid + "," + tableOrSelect.substr(shape.afterSelect);
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, rewritten.c_str(), -1, &raw, nullptr) == SQLITE_OK && raw) {
          stmt.reset(raw);
          rs->m_selectSql = rewritten;
          rs->m_hasRowid = true;
          rs->m_rowidName = rowid;
        } else {
          sqlite3_finalize(raw);
        }
      }
    }
    if (!stmt) {
      stmt = m_impl->Prepare(tableOrSelect);
      if (!stmt) ThrowEngine(codes::kSyntaxError, "The query is empty.");
      rs->m_selectSql = tableOrSelect;
    }
    const int offset = rs->m_hasRowid ? 1 : 0;
    std::vector<std::string> names, columns;
    for (int i = offset; i < sqlite3_column_count(stmt.get()); ++i) {
      names.emplace_back(sqlite3_column_name(stmt.get(), i));
      const char* table = sqlite3_column_table_name(stmt.get(), i);
      const char* origin = sqlite3_column_origin_name(stmt.get(), i);
      const bool fromTable =
          table != nullptr && origin != nullptr && FoldAscii(table) == FoldAscii(rs->m_table);
      columns.emplace_back(fromTable ? origin : "");
    }
    rs->InitFields(std::move(names), std::move(columns));
    stmt.reset();
    rs->EnsureLoaded();
  }
  m_impl->m_recordsets.push_back(rs.get());
  return std::unique_ptr<CZuvRecordset>(new CZuvRecordset(std::move(rs)));
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
  StatementPtr stmt =
      m_impl->Prepare("SELECT name, type, \"notnull\", dflt_value IS NOT NULL FROM pragma_table_info(?1) "
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

// ---------------------------------------------------------------------------

CZuvRecordset::CZuvRecordset(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CZuvRecordset::~CZuvRecordset() { m_impl->Close(); }

bool CZuvRecordset::IsEOF() const {
  m_impl->EnsureLoaded();
  return m_impl->m_position >= m_impl->m_rows.size();
}

void CZuvRecordset::MoveNext() {
  if (IsEOF()) ThrowEngine(codes::kEngineError, "No current record.");
  ++m_impl->m_position;
}

long CZuvRecordset::RecordCount() const {
  m_impl->EnsureLoaded();
  return static_cast<long>(m_impl->m_rows.size());
}

void CZuvRecordset::Requery() {
  m_impl->Db();
  m_impl->ClearPending();
  m_impl->m_loaded = false;
  m_impl->EnsureLoaded();
}

int CZuvRecordset::FieldCount() const { return static_cast<int>(m_impl->m_fieldNames.size()); }

const std::string& CZuvRecordset::FieldName(int index) const {
  m_impl->CheckIndex(index);
  return m_impl->m_fieldNames[index];
}

int CZuvRecordset::FieldIndex(std::string_view name) const { return m_impl->Lookup(name); }

CValue CZuvRecordset::GetField(int index) const {
  m_impl->CheckIndex(index);
  if (IsEOF()) ThrowEngine(codes::kEngineError, "No current record.");
  return m_impl->m_rows[m_impl->m_position][index];
}

CValue CZuvRecordset::GetField(std::string_view name) const {
  return GetField(m_impl->Lookup(name));
}

void CZuvRecordset::AddNew() {
  Impl& rs = *m_impl;
  rs.Db();
  if (rs.m_table.empty()) ThrowEngine(codes::kEngineError, "The recordset cannot be updated.");
  rs.ClearPending();
  rs.m_mode = Impl::Mode::Adding;
}

void CZuvRecordset::Edit() {
  Impl& rs = *m_impl;
  rs.Db();
  if (rs.m_table.empty() || !rs.m_hasRowid) {
    ThrowEngine(codes::kEngineError, "The recordset cannot be updated.");
  }
  if (IsEOF()) ThrowEngine(codes::kEngineError, "No current record.");
  rs.ClearPending();
  rs.m_mode = Impl::Mode::Editing;
}

void CZuvRecordset::SetField(int index, CValue value) {
  CallFaultHook("SetField", m_impl->m_table);
  m_impl->CheckIndex(index);
  m_impl->SetPending(index, std::move(value));
}

void CZuvRecordset::SetField(std::string_view name, CValue value) {
  // The hook comes first for a name too, so that it sees every call.
  CallFaultHook("SetField", m_impl->m_table);
  m_impl->SetPending(m_impl->Lookup(name), std::move(value));
}

void CZuvRecordset::Update() {
  Impl& rs = *m_impl;
  CallFaultHook("Update", rs.m_table);
  CZuvDatabase::Impl& db = rs.Db();
  switch (rs.m_mode) {
    case Impl::Mode::None:
      ThrowEngine(codes::kEngineError, "Update or CancelUpdate without AddNew or Edit.");
    case Impl::Mode::Adding:
      db.BeginWrite();
      rs.RunWrite(rs.InsertStatement(), "adding a row to", rs.m_insertMask);
      break;
    case Impl::Mode::Editing:
      db.BeginWrite();
      rs.UpdateEdited();
      break;
  }
  rs.ClearPending();
  db.NoteWrites(1);
}

void CZuvRecordset::Close() { m_impl->Close(); }

// ---------------------------------------------------------------------------

CZuvEngine::CZuvEngine() : m_state(std::make_shared<CZuvEngineState>()) {}

CZuvEngine::~CZuvEngine() = default;

void CZuvEngine::SetOption(int option, int value) {
  std::lock_guard lock(m_state->m_mutex);
  m_state->m_options[option] = value;
}

std::string CZuvEngine::Version() const { return std::string("SQLite ") + sqlite3_libversion(); }

std::unique_ptr<CZuvDatabase> CZuvEngine::OpenDatabase(const std::string& path, bool exclusive) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
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
    if ((rc & 0xff) == SQLITE_CANTOPEN && !std::filesystem::exists(path, ec)) {
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
  if (from.empty() || !std::filesystem::is_regular_file(from, ec)) {
    ThrowEngine(codes::kFileNotFound, "Could not find file '" + from + "'.");
  }
  if (to.empty() || std::filesystem::exists(std::filesystem::symlink_status(to, ec))) {
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
    std::filesystem::remove(to, ec);
    if ((step & 0xff) == SQLITE_NOTADB) {
      ThrowEngine(codes::kNotADatabase,
                  "'" + from + "' is not a ZUV database file (" + message + ").");
    }
    ThrowSqlite(step, message, "compacting '" + from + "' into '" + to + "'");
  }
  stmt.reset();
  db.reset();
  FsyncPath(target, false);
  FsyncPath(std::filesystem::path(target).parent_path().string(), true);
}

void SetZuvFaultHook(ZuvFaultHook hook) {
  std::lock_guard lock(g_faultHookMutex);
  g_faultHookSet.store(static_cast<bool>(hook), std::memory_order_release);
  g_faultHook = std::move(hook);
}

}  // namespace zx
