#include <fmt/format.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "writers.hpp"

namespace zx::sample {
namespace {

// The SQL name in double quotes, quotes doubled.
std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

class CStatement;

// A fresh SQLite file at `path`.tmp, renamed over `path` by Commit.
class CSqliteFile {
 public:
  explicit CSqliteFile(std::string path) : m_path(std::move(path)), m_tmp(m_path + ".tmp") {
    std::filesystem::remove(m_tmp);
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(m_tmp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    m_db.reset(db);
    if (rc != SQLITE_OK) Fail("cannot create");
    // The file is renamed into place only when complete, so a journal buys nothing.
    Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA page_size=4096; BEGIN");
  }
  ~CSqliteFile() {
    m_db.reset();
    if (!m_committed) {
      std::error_code ignored;
      std::filesystem::remove(m_tmp, ignored);
    }
  }
  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message ? message : "";
      sqlite3_free(message);
      throw std::runtime_error(fmt::format("{}: {} (in: {})", m_tmp, text, sql.substr(0, 200)));
    }
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(fmt::format("{}: {}: {}", m_tmp, what,
                                         m_db ? sqlite3_errmsg(m_db.get()) : "out of memory"));
  }
  sqlite3* Handle() { return m_db.get(); }
  void Commit() {
    Exec("COMMIT");
    if (sqlite3_close(m_db.release()) != SQLITE_OK)
      throw std::runtime_error(m_tmp + ": close failed");
    std::filesystem::rename(m_tmp, m_path);
    m_committed = true;
  }

 private:
  struct CClose {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::string m_path, m_tmp;
  std::unique_ptr<sqlite3, CClose> m_db;
  bool m_committed = false;
};

class CStatement {
 public:
  CStatement(CSqliteFile& file, const std::string& sql) : m_file(file) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(file.Handle(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      file.Fail("cannot prepare " + sql.substr(0, 200));
    m_stmt.reset(stmt);
  }
  void Insert(const std::vector<CValue>& values) {
    sqlite3_stmt* s = m_stmt.get();
    for (size_t i = 0; i < values.size(); ++i) {
      const CValue& v = values[i];
      const int n = int(i) + 1;
      switch (v.GetType()) {
        case CValue::Type::Null:
          sqlite3_bind_null(s, n);
          break;
        case CValue::Type::Int16:
          sqlite3_bind_int(s, n, v.Int16());
          break;
        case CValue::Type::Int32:
          sqlite3_bind_int(s, n, v.Int32());
          break;
        case CValue::Type::Int64:
          sqlite3_bind_int64(s, n, v.Int64());
          break;
        case CValue::Type::Bool:
          sqlite3_bind_int(s, n, v.Bool() ? 1 : 0);
          break;
        case CValue::Type::Double:
          sqlite3_bind_double(s, n, v.Double());
          break;
        case CValue::Type::Text:
          sqlite3_bind_text(s, n, v.Text().data(), int(v.Text().size()), SQLITE_STATIC);
          break;
        default:
          throw std::logic_error("zuvsample writes no dates or binaries as values");
      }
    }
    if (sqlite3_step(s) != SQLITE_DONE) m_file.Fail("insert failed");
    sqlite3_reset(s);
  }

 private:
  struct CFinalize {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  CSqliteFile& m_file;
  std::unique_ptr<sqlite3_stmt, CFinalize> m_stmt;
};

const char* SqliteType(ColumnType type) {
  switch (type) {
    case ColumnType::Integer:
      return "INTEGER";
    case ColumnType::Real:
      return "REAL";
    case ColumnType::DateTime:
      return "DATETIME";
    default:
      return "TEXT";
  }
}

std::string CreateTable(const CTableDef& def) {
  std::string sql = "CREATE TABLE " + Quoted(def.name) + " (";
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const CColumnDef& col = def.columns[c];
    sql +=
        fmt::format("{}{} {}{}{}", c ? ", " : "", Quoted(col.name), SqliteType(col.type),
                    int(c) == def.primaryKey ? " PRIMARY KEY" : "", col.notNull ? " NOT NULL" : "");
  }
  return sql + ")";
}

std::string CreateIndex(const CTableDef& def) {
  if (def.indexColumns.empty()) return {};
  std::string cols;
  for (int c : def.indexColumns)
    cols += (cols.empty() ? "" : ", ") + Quoted(def.columns[size_t(c)].name);
  return fmt::format("CREATE {}INDEX {} ON {} ({})", def.uniqueIndex ? "UNIQUE " : "",
                     Quoted("IX_" + def.name), Quoted(def.name), cols);
}

}  // namespace

void WriteZuvFile(const CSampleSurvey& survey, const std::string& path) {
  CSqliteFile file(path);
  file.Exec(R"(CREATE TABLE Questionnaire (
  CodeQuestion     INTEGER PRIMARY KEY,
  Position         INTEGER NOT NULL UNIQUE,
  Indent           INTEGER NOT NULL,
  TypeElement      INTEGER NOT NULL,
  TypeQuestion     INTEGER NOT NULL,
  NbMaxReponse     INTEGER NOT NULL DEFAULT 1,
  NroTableReponse  INTEGER NOT NULL DEFAULT 0,
  AdditionalTables TEXT NOT NULL DEFAULT '',
  DataFlag         INTEGER NOT NULL DEFAULT 0,
  DataCount        INTEGER NOT NULL DEFAULT 0,
  Libelle          TEXT NOT NULL DEFAULT '');
CREATE TABLE "ORV SemiOpen" (CodeReponseSO INTEGER PRIMARY KEY, CodeQuestion INTEGER NOT NULL,
  LibelleSO TEXT, CodeRegroupement INTEGER, Ordre INTEGER, NbCitations INTEGER,
  DateCreation TEXT, Auteur TEXT);)");
  {
    CStatement insert(file,
                      "INSERT INTO Questionnaire (CodeQuestion, Position, Indent, TypeElement, "
                      "TypeQuestion, NbMaxReponse, NroTableReponse, AdditionalTables, DataFlag, "
                      "DataCount, Libelle) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
    for (const CElement& e : survey.Elements())
      insert.Insert({CValue::FromInt32(e.code), CValue::FromInt32(e.position),
                     CValue::FromInt32(e.indent), CValue::FromInt32(e.typeElement),
                     CValue::FromInt32(e.typeQuestion), CValue::FromInt32(e.nbMaxReponse),
                     CValue::FromInt32(e.tableNumber), CValue::FromText(e.additionalTables),
                     CValue::FromInt32(e.dataFlag), CValue::FromInt32(0),
                     CValue::FromText(e.libelle)});
  }
  file.Commit();
}

int64_t WriteSourceDatabase(CSourceLayout& layout, const std::string& path) {
  CSqliteFile file(path);
  std::vector<std::unique_ptr<CStatement>> inserts;
  for (const CTableDef& def : layout.Tables()) {
    file.Exec(CreateTable(def));
    std::string marks;
    for (size_t c = 0; c < def.columns.size(); ++c) marks += c ? ",?" : "?";
    inserts.push_back(std::make_unique<CStatement>(
        file, fmt::format("INSERT INTO {} VALUES ({})", Quoted(def.name), marks)));
  }
  const int64_t values = layout.EmitRows(
      [&](size_t table, const std::vector<CValue>& row) { inserts[table]->Insert(row); });
  inserts.clear();
  // Indexes after the rows: one sort instead of millions of tree updates.
  for (const CTableDef& def : layout.Tables())
    if (const std::string sql = CreateIndex(def); !sql.empty()) file.Exec(sql);
  file.Commit();
  return values;
}

}  // namespace zx::sample
