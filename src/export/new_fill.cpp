#include "export/new_fill.hpp"

#include <fmt/printf.h>

#include <algorithm>
#include <string_view>

#include "platform/error.hpp"
#include "platform/text.hpp"
#include "platform/zuv/engine.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {

std::vector<std::string> BuildFillStatements(int32_t tableNumber,
                                             const std::vector<TableQuestion>& questions,
                                             const FieldIndexRanges* existing) {
  const std::string head =
      fmt::sprintf("UPDATE [ORV Reponse%ld] SET ", static_cast<long>(tableNumber));
  std::vector<std::string> statements;
  for (const auto& question : questions) {
    if (question.questionType != question_types::kSingleChoice) continue;
    int32_t first = 1;
    int32_t last = 0;
    if (question.inAdditionalTable) {
      first = LeadingInt(question.firstDataOrder);
      last = LeadingInt(question.lastDataOrder);
    } else {
      last = question.maxResponses.ToInt32();
    }
    // The code is the questionnaire's integer id; its value alone goes into the SQL.
    const int32_t code = LeadingInt(question.code);
    if (existing != nullptr) {
      auto fields = existing->find(code);
      if (fields == existing->end()) continue;
      first = std::max(first, fields->second.first);
      last = std::min(last, fields->second.second);
    }
    for (int64_t i = first; i <= last; ++i) {
      const std::string field = fmt::sprintf("[%d;%d]", code, i);
      const std::string assignment =
          fmt::sprintf(", %s = IIF(%s IS NULL, %d, %s)", field, field, EmptyResponseValue, field);
      statements.push_back(head + assignment.substr(1));
    }
  }
  return statements;
}

void FillEmptyFields(CZuvDatabase& target,
                     const std::vector<std::vector<TableQuestion>>& tableQuestions,
                     const std::function<void(const std::string&)>& info) {
  info("Filling empty fields...");
  for (size_t t = 0; t < tableQuestions.size(); ++t) {
    const auto tableNumber = static_cast<int32_t>(t + 1);
    FieldIndexRanges existing;
    for (const auto& column :
         target.Columns(fmt::sprintf("ORV Reponse%ld", static_cast<long>(tableNumber)))) {
      const size_t semicolon = column.name.find(';');
      if (semicolon == std::string::npos) continue;
      const int32_t code = LeadingInt(std::string_view(column.name).substr(0, semicolon));
      const int32_t index = LeadingInt(std::string_view(column.name).substr(semicolon + 1));
      auto [range, inserted] = existing.try_emplace(code, index, index);
      range->second.first = std::min(range->second.first, index);
      range->second.second = std::max(range->second.second, index);
    }
    for (const auto& statement : BuildFillStatements(tableNumber, tableQuestions[t], &existing)) {
      try {
        target.Execute(statement);
      } catch (const CExportError& e) {
        if (!e.IsTooFewParameters()) throw;
      }
    }
  }
}

}  // namespace zx
