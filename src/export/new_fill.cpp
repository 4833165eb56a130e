#include "export/new_fill.hpp"

#include <fmt/format.h>
#include <fmt/printf.h>

#include <algorithm>
#include <map>
#include <string_view>

#include "export/new_planning.hpp"
#include "platform/error.hpp"
#include "platform/text.hpp"
#include "platform/zuv/engine.hpp"
#include "surveylib/questionnaire.hpp"
#include "surveylib/survey_names.hpp"

namespace zx {

namespace {

std::string TableName(int32_t tableNumber) { return TargetResponseTableName(tableNumber); }

// Calls `field(code, index)` for every field a type-1 question fills, in list order.
template <typename Field>
void ForEachFillField(const std::vector<TableQuestion>& questions, const FieldIndexRanges* existing,
                      Field&& field) {
  for (const auto& question : questions) {
    if (question.questionType != question_types::kSingleChoice) continue;
    // The questionnaire's numbers as the read side plans them; only these
    // integers go into the SQL.
    const CPlannedQuestion planned = PlanQuestion(question);
    int32_t first = 1;
    int32_t last = 0;
    if (planned.inAdditionalTable) {
      first = planned.firstDataOrder;
      last = planned.lastDataOrder;
    } else {
      last = question.maxResponses.ToInt32();
    }
    const int32_t code = planned.code;
    if (existing != nullptr) {
      auto fields = existing->find(code);
      if (fields == existing->end()) continue;
      first = std::max(first, fields->second.first);
      last = std::min(last, fields->second.second);
    }
    for (int64_t i = first; i <= last; ++i) field(code, i);
  }
}

FieldIndexRanges ExistingIndexRanges(const std::vector<CZuvDatabase::CColumn>& columns) {
  FieldIndexRanges existing;
  for (const auto& column : columns) {
    const size_t semicolon = column.name.find(';');
    if (semicolon == std::string::npos) continue;
    const int32_t code = LeadingInt(std::string_view(column.name).substr(0, semicolon));
    const int32_t index = LeadingInt(std::string_view(column.name).substr(semicolon + 1));
    auto [range, inserted] = existing.try_emplace(code, index, index);
    range->second.first = std::min(range->second.first, index);
    range->second.second = std::max(range->second.second, index);
  }
  return existing;
}

void FillTable(CZuvDatabase& target, int32_t tableNumber,
               const std::vector<TableQuestion>& questions) {
  const FieldIndexRanges existing = ExistingIndexRanges(target.Columns(TableName(tableNumber)));
  for (const auto& statement : BuildFillStatements(tableNumber, questions, &existing)) {
    try {
      target.Execute(statement);
    } catch (const CExportError& e) {
      if (!e.IsTooFewParameters()) throw;
    }
  }
}

}  // namespace

std::vector<std::string> BuildFillStatements(int32_t tableNumber,
                                             const std::vector<TableQuestion>& questions,
                                             const FieldIndexRanges* existing) {
  const std::string head = "UPDATE " + Bracketed(TableName(tableNumber)) + " SET ";
  std::vector<std::string> statements;
  ForEachFillField(questions, existing, [&](int32_t code, int64_t i) {
    const std::string field = fmt::sprintf("[%d;%d]", code, i);
    const std::string assignment =
        fmt::sprintf(", %s = IIF(%s IS NULL, %d, %s)", field, field, EmptyResponseValue, field);
    statements.push_back(head + assignment.substr(1));
  });
  return statements;
}

void FillEmptyFields(CZuvDatabase& target,
                     const std::vector<std::vector<TableQuestion>>& tableQuestions,
                     const std::function<void(const std::string&)>& info) {
  FillEmptyFields(target, tableQuestions, {}, info);
}

CTableFill PlanTableFill(const std::vector<TableQuestion>& questions,
                         const std::vector<CZuvDatabase::CColumn>& columns) {
  CTableFill plan;
  const FieldIndexRanges existing = ExistingIndexRanges(columns);
  std::map<std::string, bool, std::less<>> hasDefault;
  for (const auto& column : columns) hasDefault.emplace(column.name, column.hasDefault);
  try {
    ForEachFillField(questions, &existing, [&](int32_t code, int64_t i) {
      const std::string name = fmt::format("{};{}", code, i);
      // A field the table lacks has nothing to fill.
      auto column = hasDefault.find(name);
      if (column == hasDefault.end()) return;
      (column->second ? plan.afterwards : plan.onInsert).push_back(name);
    });
  } catch (const CExportError&) {
    return CTableFill{};
  }
  plan.planned = true;
  return plan;
}

void FillEmptyFields(CZuvDatabase& target,
                     const std::vector<std::vector<TableQuestion>>& tableQuestions,
                     const std::vector<CTableFill>& plans,
                     const std::function<void(const std::string&)>& info) {
  info("Filling empty fields...");
  for (size_t t = 0; t < tableQuestions.size(); ++t) {
    const auto tableNumber = static_cast<int32_t>(t + 1);
    if (t >= plans.size() || !plans[t].planned) {
      FillTable(target, tableNumber, tableQuestions[t]);
      continue;
    }
    std::string assignments;
    for (const std::string& name : plans[t].afterwards) {
      assignments += fmt::format(", [{0}] = coalesce([{0}], {1})", name, EmptyResponseValue);
    }
    if (!assignments.empty()) {
      target.Execute(
          fmt::format("UPDATE [{}] SET {}", TableName(tableNumber), assignments.substr(2)));
    }
  }
}

}  // namespace zx
