#include "support/legacy_check.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <stdexcept>

#include "support/process.hpp"

namespace zx::test {
namespace {

struct CDb {
  sqlite3* db = nullptr;
  explicit CDb(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      std::string message = sqlite3_errmsg(db);
      sqlite3_close(db);
      throw std::runtime_error("cannot open " + path + ": " + message);
    }
  }
  ~CDb() { sqlite3_close(db); }
};

template <class Row>
void ForEachRow(const std::string& path, const std::string& sql, Row onRow) {
  CDb db(path);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db.db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sql + ": " + sqlite3_errmsg(db.db));
  }
  while (sqlite3_step(statement) == SQLITE_ROW) onRow(statement);
  sqlite3_finalize(statement);
}

std::optional<std::string> TextOf(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
}

// The target name of a source column, by the naming rule alone; nullopt when
// the column is never carried over.
std::optional<std::string> TargetName(const std::string& name) {
  size_t end = 1;
  while (end < name.size() && isdigit(static_cast<unsigned char>(name[end]))) ++end;
  if (end == 1) {
    if (name.rfind("Old", 0) == 0) return std::nullopt;
    return name;
  }
  std::string index = end + 1 <= name.size() ? name.substr(end + 1) : "";
  return std::to_string(std::stol(name.substr(1, end - 1))) + ";" +
         std::to_string(index.empty() ? 0 : std::stol(index));
}

}  // namespace

void MakeLegacySample(const std::string& dir, const std::vector<std::string>& extraArgs) {
  std::vector<std::string> args = {"--out-dir", dir, "--layout", "legacy"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  CProcessResult result = RunProcess(ZUVSAMPLE_BIN, args);
  ASSERT_EQ(result.exitCode, 0) << result.err;
}

std::string SqliteOdbcConnect(const std::string& dbPath) {
  return "Driver=SQLite3;Database=" + dbPath + ";StepAPI=1";
}

int CTableRows::Column(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] == name) return static_cast<int>(i);
  }
  return -1;
}

CTableRows ReadTable(const std::string& dbPath, const std::string& table) {
  CTableRows out;
  CDb db(dbPath);
  sqlite3_stmt* statement = nullptr;
  std::string sql = "SELECT * FROM \"" + table + "\"";
  if (sqlite3_prepare_v2(db.db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sql + ": " + sqlite3_errmsg(db.db));
  }
  const int count = sqlite3_column_count(statement);
  for (int c = 0; c < count; ++c) out.columns.push_back(sqlite3_column_name(statement, c));
  while (sqlite3_step(statement) == SQLITE_ROW) {
    auto& row = out.rows.emplace_back();
    for (int c = 0; c < count; ++c) row.push_back(TextOf(statement, c));
  }
  sqlite3_finalize(statement);
  return out;
}

std::vector<std::string> TableNames(const std::string& dbPath) {
  std::vector<std::string> names;
  ForEachRow(dbPath, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
             [&](sqlite3_stmt* s) { names.push_back(*TextOf(s, 0)); });
  return names;
}

int64_t ExpectLegacyExport(const std::string& sourceDb, const std::string& targetZuv,
                           int32_t surveyId,
                           const std::optional<std::set<std::string>>& acceptedKeys) {
  int64_t checked = 0;
  for (int t = 1;; ++t) {
    const std::string sourceName =
        "ORVResponse" + std::to_string(surveyId) + "_" + std::to_string(t);
    const std::vector<std::string> sourceTables = TableNames(sourceDb);
    if (std::find(sourceTables.begin(), sourceTables.end(), sourceName) == sourceTables.end()) {
      EXPECT_GT(t, 1) << "no legacy table in the source";
      break;
    }
    const CTableRows source = ReadTable(sourceDb, sourceName);
    const CTableRows target = ReadTable(targetZuv, "ORV Reponse" + std::to_string(t));

    std::vector<int> keyColumns;  // source positions of Cle1, Cle2, ...
    for (int k = 1;; ++k) {
      int s = source.Column("Cle" + std::to_string(k));
      if (s < 0) break;
      keyColumns.push_back(s);
    }
    std::vector<int> targetKeys;
    for (size_t k = 0; k < keyColumns.size(); ++k) {
      targetKeys.push_back(target.Column("Cle" + std::to_string(k + 1)));
      EXPECT_GE(targetKeys.back(), 0) << "table " << t << " lacks Cle" << k + 1;
    }
    auto keyOf = [](const auto& row, const std::vector<int>& positions) {
      std::string key;
      for (int p : positions) key += (p >= 0 && row[p] ? *row[p] : "NULL") + "|";
      return key;
    };

    std::map<std::string, const std::vector<std::optional<std::string>>*> targetByKey;
    for (const auto& row : target.rows) {
      EXPECT_TRUE(targetByKey.emplace(keyOf(row, targetKeys), &row).second)
          << "table " << t << ": a row arrived twice";
    }

    // Source column -> target column, for the columns the target holds.
    std::vector<std::pair<int, int>> mapped;
    for (size_t c = 0; c < source.columns.size(); ++c) {
      std::optional<std::string> name = TargetName(source.columns[c]);
      if (!name) continue;
      int tc = target.Column(*name);
      if (tc >= 0) mapped.emplace_back(static_cast<int>(c), tc);
    }
    // A table that holds no question has its keys alone.
    if (source.columns.size() > keyColumns.size()) {
      EXPECT_GT(mapped.size(), keyColumns.size()) << "table " << t << ": no value column mapped";
    }

    size_t expectedRows = 0;
    for (const auto& row : source.rows) {
      if (acceptedKeys && !acceptedKeys->contains(row[keyColumns[0]].value_or("NULL"))) continue;
      ++expectedRows;
      auto found = targetByKey.find(keyOf(row, keyColumns));
      if (found == targetByKey.end()) {
        ADD_FAILURE() << "table " << t << ": row " << keyOf(row, keyColumns) << " missing";
        continue;
      }
      for (auto [s, tc] : mapped) {
        EXPECT_EQ((*found->second)[tc], row[s])
            << "table " << t << " row " << found->first << " column " << source.columns[s];
      }
      ++checked;
    }
    EXPECT_EQ(target.rows.size(), expectedRows) << "table " << t;
  }
  return checked;
}

}  // namespace zx::test
