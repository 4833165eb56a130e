#pragma once
// Direct SQLite access to a file for tests: setting up inputs and checking
// results without the code under test.
#include <string>
#include <vector>

namespace zx::test {

// Runs the statements on the file (created when missing); throws std::runtime_error.
void RunSql(const std::string& path, const std::string& sql);
// Every row of `sql`, each column as text ("NULL" for NULL).
std::vector<std::vector<std::string>> QueryRows(const std::string& path, const std::string& sql);
// The first column of the first row, "" when there is no row.
std::string QueryText(const std::string& path, const std::string& sql);

// The [Questionnaire] table of design.md, empty.
extern const char* const kQuestionnaireDdl;

}  // namespace zx::test
