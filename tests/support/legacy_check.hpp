#pragma once
// Independent checks of a legacy-layout export: the test reads the source
// database and the target ZUV file with SQLite itself and maps the column
// names on its own ("Q<q>_<d>" -> "q;d").
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/sqlite_file.hpp"

namespace zx::test {

// Runs zuvsample (legacy layout only) into `dir`: dir/survey.zuv, dir/source.db.
void MakeLegacySample(const std::string& dir, const std::vector<std::string>& extraArgs);

std::string SqliteOdbcConnect(const std::string& dbPath);

// One table as text values (nullopt for NULL), by column name.
struct CTableRows {
  std::vector<std::string> columns;
  std::vector<std::vector<std::optional<std::string>>> rows;
  int Column(const std::string& name) const;  // -1 when absent
};
CTableRows ReadTable(const std::string& dbPath, const std::string& table);
std::vector<std::string> TableNames(const std::string& dbPath);

// Checks with gtest assertions that every source row of every
// "ORVResponse<id>_<t>" table (only those whose Cle1 is in `acceptedKeys`,
// when given) arrives once in "ORV Reponse<t>" with each value in its field.
// Returns the number of rows checked.
int64_t ExpectLegacyExport(const std::string& sourceDb, const std::string& targetZuv,
                           int32_t surveyId,
                           const std::optional<std::set<std::string>>& acceptedKeys = {});

}  // namespace zx::test
