#include "source_layout.hpp"

#include <fmt/format.h>

#include <map>
#include <tuple>

#include "surveylib/interview_fields.hpp"
#include "surveylib/questionnaire.hpp"
#include "surveylib/survey_names.hpp"

namespace zx::sample {
namespace {

ColumnType TypeOf(FieldKind kind) {
  switch (kind) {
    case FieldKind::Integer:
      return ColumnType::Integer;
    case FieldKind::Real:
      return ColumnType::Real;
    case FieldKind::DateTime:
      return ColumnType::DateTime;
    default:
      return ColumnType::Text;
  }
}

ColumnType ResponseType(const CFieldRange& f) {
  if (f.typeElement == element_types::kLoop) return ColumnType::Integer;
  if (f.typeQuestion == question_types::kNumeric) return ColumnType::Real;
  if (f.typeQuestion == question_types::kOpen || f.typeQuestion == question_types::kDate)
    return ColumnType::Text;
  return ColumnType::Integer;
}

int64_t FieldKey(int32_t code, int32_t dataOrder) {
  return int64_t(uint64_t(uint32_t(code)) << 32 | uint32_t(dataOrder));
}

std::vector<CColumnDef> SemiOpenColumns() {
  static constexpr ColumnType kTypes[] = {
      ColumnType::Integer, ColumnType::Integer, ColumnType::Text, ColumnType::Integer,
      ColumnType::Integer, ColumnType::Integer, ColumnType::Text, ColumnType::Text};
  static_assert(std::size(kTypes) == kSemiOpenColumns.size());
  std::vector<CColumnDef> columns;
  for (size_t c = 0; c < kSemiOpenColumns.size(); ++c)
    columns.push_back({std::string(kSemiOpenColumns[c]), kTypes[c], c < 2});
  return columns;
}

}  // namespace

CSourceLayout::CSourceLayout(CSampleSurvey& survey, const CSampleOptions& options)
    : m_survey(survey), m_options(options) {
  if (options.writeNew) AddNewLayout();
  if (options.writeLegacy) AddLegacyLayout();
}

void CSourceLayout::AddNewLayout() {
  const long surveyId = m_options.surveyId;
  m_dataTable = int(m_tables.size());
  m_tables.push_back({NewLayoutDataTableName(surveyId),
                      {{"InterviewID", ColumnType::Integer, true},
                       {"QuestionID", ColumnType::Integer, true},
                       {"DataOrder", ColumnType::Integer, true},
                       {"LoopID1", ColumnType::Integer},
                       {"LoopID2", ColumnType::Integer},
                       {"ClosedData", ColumnType::Integer},
                       {"NumericData", ColumnType::Real},
                       {"OpenData", ColumnType::Text},
                       {"Duration", ColumnType::Integer}},
                      -1,
                      {0, 1},
                      false});
  CTableDef interview{NewLayoutInterviewTableName(surveyId),
                      {{"InterviewID", ColumnType::Integer, true}},
                      0,
                      {},
                      false};
  // StartInterview, EndInterview and Completed first, then the rest of the map.
  for (int pass = 0; pass < 2; ++pass)
    for (const CInterviewField& f : kInterviewFields) {
      const bool leading = f.sourceColumn == "StartInterview" || f.sourceColumn == "EndInterview" ||
                           f.sourceColumn == "Completed";
      if (leading == (pass == 0))
        interview.columns.push_back(
            {std::string(f.sourceColumn), TypeOf(f.kind), f.sourceColumn == "StartInterview"});
    }
  m_interviewFieldOf.assign(interview.columns.size(), 0);
  for (size_t c = 1; c < interview.columns.size(); ++c)
    for (size_t f = 0; f < kInterviewFields.size(); ++f)
      if (kInterviewFields[f].sourceColumn == interview.columns[c].name) m_interviewFieldOf[c] = f;
  m_interviewTable = int(m_tables.size());
  m_tables.push_back(std::move(interview));
  m_newSemiOpen = int(m_tables.size());
  m_tables.push_back({SourceSemiOpenTableName(surveyId, true), SemiOpenColumns(), 0, {}, false});
}

void CSourceLayout::AddLegacyLayout() {
  m_legacySemiOpen = int(m_tables.size());
  m_tables.push_back(
      {SourceSemiOpenTableName(m_options.surveyId, false), SemiOpenColumns(), 0, {}, false});
  m_firstLegacy = int(m_tables.size());
  for (const CResponseTable& rt : m_survey.Tables()) {
    CTableDef def{LegacyResponseTableName(m_options.surveyId, rt.number), {}, -1, {}, true};
    for (int k = 0; k <= rt.depth; ++k) {
      def.columns.push_back({fmt::format("Cle{}", k + 1), ColumnType::Integer, k == 0});
      def.indexColumns.push_back(k);
    }
    if (rt.depth > 0) def.columns.push_back({"Ordre", ColumnType::Integer});
    if (rt.number == 1)
      for (const CInterviewField& f : kInterviewFields)
        def.columns.push_back({std::string(f.targetField), TypeOf(f.kind)});
    std::unordered_map<int64_t, int> columns;
    for (const CFieldRange& f : rt.fields) {
      for (int32_t d : {0}) {
        if (columns.emplace(FieldKey(f.code, d), int(def.columns.size())).second)
          def.columns.push_back({fmt::format("Q{}_{}", f.code, d), ColumnType::Integer});
      }
      for (int32_t d = f.first; d <= f.last; ++d)
        if (columns.emplace(FieldKey(f.code, d), int(def.columns.size())).second)
          def.columns.push_back({fmt::format("Q{}_{}", f.code, d), ResponseType(f)});
    }
    m_legacyColumns.push_back(std::move(columns));
    m_tables.push_back(std::move(def));
  }
}

int64_t CSourceLayout::EmitRows(const RowSink& sink) {
  std::vector<CValue> row;
  for (int table : {m_newSemiOpen, m_legacySemiOpen}) {
    if (table < 0) continue;
    for (const auto& so : m_survey.SemiOpens()) {
      row = {CValue::FromInt32(so.code),   CValue::FromInt32(so.question),
             CValue::FromText(so.libelle), CValue::FromInt32(so.regroupement),
             CValue::FromInt32(so.ordre),  CValue::FromInt32(so.citations),
             CValue::FromText(so.created), CValue::FromText(so.author)};
      sink(size_t(table), row);
    }
  }

  int64_t values = 0;
  auto optionalInt = [](const std::optional<int32_t>& v) {
    return v ? CValue::FromInt32(*v) : CValue();
  };
  for (int64_t i = 0; i < m_survey.InterviewCount(); ++i) {
    const CInterview interview = m_survey.Interview(i);
    values += int64_t(interview.rows.size());
    if (m_interviewTable >= 0) {
      const CTableDef& def = m_tables[size_t(m_interviewTable)];
      row.assign(def.columns.size(), CValue());
      row[0] = CValue::FromInt32(interview.id);
      for (size_t c = 1; c < def.columns.size(); ++c)
        row[c] = interview.fields[m_interviewFieldOf[c]];
      sink(size_t(m_interviewTable), row);
    }
    if (m_dataTable >= 0) {
      for (const CDataRow& r : interview.rows) {
        row = {CValue::FromInt32(interview.id),
               CValue::FromInt32(r.question),
               CValue::FromInt32(r.dataOrder),
               optionalInt(r.loop1),
               optionalInt(r.loop2),
               r.closed,
               r.numeric,
               r.open,
               r.duration};
        sink(size_t(m_dataTable), row);
      }
    }
    if (m_firstLegacy < 0) continue;
    // One legacy row per table and loop position, in the order the answers came.
    std::map<std::tuple<int, int64_t, int64_t>, size_t> groupIndex;
    std::vector<std::pair<size_t, std::vector<CValue>>> groups;
    for (const CDataRow& r : interview.rows) {
      const auto key =
          std::make_tuple(r.table, r.loop1.value_or(INT64_MIN), r.loop2.value_or(INT64_MIN));
      auto [it, fresh] = groupIndex.emplace(key, groups.size());
      const size_t tableIndex = size_t(m_firstLegacy + r.table - 1);
      const CTableDef& def = m_tables[tableIndex];
      if (fresh) {
        std::vector<CValue> values(def.columns.size());
        values[0] = CValue::FromInt32(interview.id);
        int depth = 0;
        for (const auto& loop : {r.loop1, r.loop2})
          if (loop) values[size_t(++depth)] = CValue::FromInt32(*loop);
        if (depth > 0) values[size_t(depth) + 1] = CValue::FromInt32(r.order);
        if (r.table == 1)
          for (size_t f = 0; f < kInterviewFields.size(); ++f) values[1 + f] = interview.fields[f];
        groups.emplace_back(tableIndex, std::move(values));
      }
      std::vector<CValue>& values = groups[it->second].second;
      const auto& columns = m_legacyColumns[size_t(r.table - 1)];
      values[size_t(columns.at(FieldKey(r.question, 0)))] = r.duration;
      values[size_t(columns.at(FieldKey(r.question, r.dataOrder)))] = !r.closed.IsNull() ? r.closed
                                                                      : !r.numeric.IsNull()
                                                                          ? r.numeric
                                                                          : r.open;
    }
    for (const auto& [table, values] : groups) sink(table, values);
  }
  return values;
}

}  // namespace zx::sample
