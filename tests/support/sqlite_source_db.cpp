#include "support/sqlite_source_db.hpp"

#include <sqlite3.h>
#include <stdexcept>

#include "support/temp_dir.hpp"

namespace zx::testing {

CSqliteSourceDb::CSqliteSourceDb() {
  m_dir = zx::test::NewTempFolder("zuvsrc-");
  m_path = m_dir / "source.db";
  if (sqlite3_open(m_path.string().c_str(), &m_db) != SQLITE_OK) {
    sqlite3_close(m_db);
    m_db = nullptr;
    throw std::runtime_error("cannot create " + m_path.string());
  }
}

CSqliteSourceDb::~CSqliteSourceDb() {
  sqlite3_close(m_db);
  std::error_code ignored;
  std::filesystem::remove_all(m_dir, ignored);
}

std::string CSqliteSourceDb::ConnectString() const {
  return "Driver=SQLite3;Database=" + m_path.generic_string() + ";StepAPI=1";
}

void CSqliteSourceDb::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error("SQLite: " + text + " in " + sql);
  }
}

}  // namespace zx::testing
