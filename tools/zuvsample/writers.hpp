#pragma once
// Writing the sample survey: the source ZUV file, the SQLite source
// database and the T-SQL script. Each file is written beside its path and
// renamed into place when complete. Failures throw std::runtime_error.
#include <cstdint>
#include <string>

#include "sample_survey.hpp"
#include "source_layout.hpp"

namespace zx::sample {

void WriteZuvFile(const CSampleSurvey& survey, const std::string& path);
// Returns the number of answer values written.
int64_t WriteSourceDatabase(CSourceLayout& layout, const std::string& path);
int64_t WriteSqlScript(CSourceLayout& layout, const std::string& path);

}  // namespace zx::sample
