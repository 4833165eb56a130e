#include "support/sqlite_file.hpp"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace zx::test {
namespace {

struct CClose {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

std::unique_ptr<sqlite3, CClose> OpenFile(const std::string& path) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(path.c_str(), &db);
  std::unique_ptr<sqlite3, CClose> handle(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot open " + path);
  return handle;
}

}  // namespace

const char* const kQuestionnaireDdl = R"(CREATE TABLE Questionnaire (
  CodeQuestion INTEGER PRIMARY KEY, Position INTEGER NOT NULL UNIQUE, Indent INTEGER NOT NULL,
  TypeElement INTEGER NOT NULL, TypeQuestion INTEGER NOT NULL,
  NbMaxReponse INTEGER NOT NULL DEFAULT 1, NroTableReponse INTEGER NOT NULL DEFAULT 0,
  AdditionalTables TEXT NOT NULL DEFAULT '', DataFlag INTEGER NOT NULL DEFAULT 0,
  DataCount INTEGER NOT NULL DEFAULT 0, Libelle TEXT NOT NULL DEFAULT ''))";

void RunSql(const std::string& path, const std::string& sql) {
  auto db = OpenFile(path);
  char* message = nullptr;
  if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : "?";
    sqlite3_free(message);
    throw std::runtime_error(text + " in: " + sql);
  }
}

std::vector<std::vector<std::string>> QueryRows(const std::string& path, const std::string& sql) {
  auto db = OpenFile(path);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string(sqlite3_errmsg(db.get())) + " in: " + sql);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  std::vector<std::vector<std::string>> rows;
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int c = 0; c < sqlite3_column_count(raw); ++c) {
      const unsigned char* text = sqlite3_column_text(raw, c);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE)
    throw std::runtime_error(std::string(sqlite3_errmsg(db.get())) + " in: " + sql);
  return rows;
}

std::string QueryText(const std::string& path, const std::string& sql) {
  const auto rows = QueryRows(path, sql);
  return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

}  // namespace zx::test
