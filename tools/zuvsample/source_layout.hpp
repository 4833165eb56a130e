#pragma once
// The source database of the sample survey as tables and rows, shared by
// the SQLite writer and the T-SQL script writer so both hold the same data.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/value.hpp"
#include "sample_survey.hpp"

namespace zx::sample {

enum class ColumnType { Integer, Real, Text, DateTime };

struct CColumnDef {
  std::string name;
  ColumnType type;
  bool notNull = false;
};

struct CTableDef {
  std::string name;
  std::vector<CColumnDef> columns;
  int primaryKey = -1;            // column that is the primary key
  std::vector<int> indexColumns;  // an index on these
  bool uniqueIndex = false;
};

class CSourceLayout {
 public:
  CSourceLayout(CSampleSurvey& survey, const CSampleOptions& options);
  const std::vector<CTableDef>& Tables() const { return m_tables; }
  using RowSink = std::function<void(size_t table, const std::vector<CValue>& row)>;
  // Every row of every table: the semi-open tables first, then interview by
  // interview. Returns the number of answer values (rows of the data table).
  int64_t EmitRows(const RowSink& sink);

 private:
  void AddNewLayout();
  void AddLegacyLayout();

  CSampleSurvey& m_survey;
  const CSampleOptions& m_options;
  std::vector<CTableDef> m_tables;
  int m_dataTable = -1, m_interviewTable = -1, m_newSemiOpen = -1, m_legacySemiOpen = -1;
  int m_firstLegacy = -1;  // ORVResponse<id>_1; the others follow in order
  // Per legacy table: column of "Q<code>_<d>" by (code << 32 | d).
  std::vector<std::unordered_map<int64_t, int>> m_legacyColumns;
  std::vector<size_t> m_interviewFieldOf;  // interview table column -> kInterviewFields index
};

}  // namespace zx::sample
