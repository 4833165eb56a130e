// Dynasets: the rows of a table or a one-table SELECT, loaded whole, with
// writes through INSERT and rowid-addressed UPDATE statements.
#include <sqlite3.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "platform/sql_identifier.hpp"
#include "platform/zuv/database_impl.hpp"
#include "platform/zuv/fault_hook.hpp"
#include "platform/zuv/sql_scan.hpp"
#include "platform/zuv/sqlite_errors.hpp"
#include "platform/zuv/value_binding.hpp"

namespace zx {

namespace {

struct CTextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};
template <typename T>
using TextMap = std::unordered_map<std::string, T, CTextHash, std::equal_to<>>;

// Tables with DEFAULT columns may still vary their INSERT per row; keep that bounded.
constexpr size_t kMaxCachedInserts = 64;

}  // namespace

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
      ThrowEngine(codes::kEngineError,
                  "The field '" + m_fieldNames[index] + "' cannot be updated.");
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
    for (size_t w = 0; w < m_setMask.size(); ++w)
      m_insertMask[w] = m_setMask[w] | m_insertAlwaysMask[w];
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

void CZuvDatabase::Impl::CloseRecordset(CZuvRecordset::Impl& recordset) { recordset.Close(); }

// ---------------------------------------------------------------------------

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
        const int rc = sqlite3_prepare_v2(db, rewritten.c_str(), -1, &raw, nullptr);
        StatementPtr candidate(raw);
        if (rc == SQLITE_OK && candidate) {
          stmt = std::move(candidate);
          rs->m_selectSql = rewritten;
          rs->m_hasRowid = true;
          rs->m_rowidName = rowid;
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

}  // namespace zx
