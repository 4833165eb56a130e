#pragma once
// A SQLite database file in a fresh temporary directory, written with the
// SQLite C API and read by the code under test through the SQLite ODBC driver.
#include <filesystem>
#include <string>

struct sqlite3;

namespace zx::testing {

class CSqliteSourceDb {
 public:
  // Creates the directory and an empty database file in it.
  CSqliteSourceDb();
  // Removes the directory with everything in it.
  ~CSqliteSourceDb();
  CSqliteSourceDb(const CSqliteSourceDb&) = delete;
  CSqliteSourceDb& operator=(const CSqliteSourceDb&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // "Driver=SQLite3;Database=PATH;StepAPI=1".
  std::string ConnectString() const;
  // Runs one or more statements; a failure fails the calling test (throws).
  void Exec(const std::string& sql);

 private:
  std::filesystem::path m_dir;
  std::filesystem::path m_path;
  sqlite3* m_db = nullptr;
};

}  // namespace zx::testing
