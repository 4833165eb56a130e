#include "support/sqlite_values.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <memory>
#include <stdexcept>

namespace zx {

void PrintTo(const CValue& value, std::ostream* out) {
  switch (value.GetType()) {
    case CValue::Type::Null:
      *out << "NULL";
      break;
    case CValue::Type::Double:
      *out << "double " << value.Double();
      break;
    case CValue::Type::Text:
      *out << "text '" << value.Text() << "'";
      break;
    default:
      try {
        *out << "int " << value.ToText();
      } catch (...) {
        *out << "(type " << int(value.GetType()) << ")";
      }
  }
}

}  // namespace zx

namespace zx::test {
namespace {

struct CCloseDb {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbHandle = std::unique_ptr<sqlite3, CCloseDb>;

DbHandle Open(const std::string& path) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(path.c_str(), &db);
  DbHandle handle(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot open " + path);
  sqlite3_busy_timeout(db, 5000);
  return handle;
}

}  // namespace

std::vector<std::vector<CValue>> QueryValues(const std::string& path, const std::string& sql) {
  DbHandle db = Open(path);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string(sqlite3_errmsg(db.get())) + " in: " + sql);
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  std::vector<std::vector<CValue>> rows;
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    std::vector<CValue>& row = rows.emplace_back();
    for (int c = 0; c < sqlite3_column_count(raw); ++c) {
      switch (sqlite3_column_type(raw, c)) {
        case SQLITE_INTEGER:
          row.push_back(CValue::FromInt64(sqlite3_column_int64(raw, c)));
          break;
        case SQLITE_FLOAT:
          row.push_back(CValue::FromDouble(sqlite3_column_double(raw, c)));
          break;
        case SQLITE_NULL:
          row.emplace_back();
          break;
        default:
          row.push_back(
              CValue::FromText(reinterpret_cast<const char*>(sqlite3_column_text(raw, c))));
      }
    }
  }
  if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db.get()));
  return rows;
}

bool SameValue(const CValue& a, const CValue& b) {
  if (a.GetType() == CValue::Type::Double && b.GetType() == CValue::Type::Double) {
    return std::fabs(a.Double() - b.Double()) <= 1e-15 * std::fmax(1.0, std::fabs(a.Double()));
  }
  return a == b;
}

void ExpectSameTables(const std::string& expected, const std::string& actual) {
  const std::string tables =
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%' ORDER BY 1";
  const auto names = QueryValues(expected, tables);
  ASSERT_EQ(QueryValues(actual, tables), names);
  for (const auto& name : names) {
    const std::string table = name[0].Text();
    SCOPED_TRACE(table);
    const auto columns =
        QueryValues(expected, "SELECT count(*) FROM pragma_table_info('" + table + "')");
    std::string order = "1";
    for (int64_t c = 2; c <= columns.at(0).at(0).Int64(); ++c) order += ", " + std::to_string(c);
    const std::string sql = "SELECT * FROM [" + table + "] ORDER BY " + order;
    const auto want = QueryValues(expected, sql), got = QueryValues(actual, sql);
    ASSERT_EQ(got.size(), want.size());
    for (size_t r = 0; r < want.size(); ++r) {
      ASSERT_EQ(got[r].size(), want[r].size());
      for (size_t c = 0; c < want[r].size(); ++c)
        ASSERT_PRED2(SameValue, got[r][c], want[r][c]) << "row " << r << " column " << c;
    }
  }
}

std::string SqliteConnectString(const std::string& path) {
  return "Driver=SQLite3;Database=" + path + ";StepAPI=1";
}

}  // namespace zx::test
