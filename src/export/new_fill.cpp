#include "export/new_fill.hpp"

#include <fmt/printf.h>

#include "platform/error.hpp"
#include "platform/text.hpp"
#include "platform/zuv/engine.hpp"

namespace zx {

std::vector<std::string> BuildFillStatements(int32_t tableNumber,
                                             const std::vector<TableQuestion>& questions) {
  const std::string head = fmt::sprintf("UPDATE [ORV Reponse%ld] SET ", static_cast<long>(tableNumber));
  std::vector<std::string> statements;
  for (const auto& question : questions) {
    if (question.questionType != 1) continue;
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
    for (const auto& statement : BuildFillStatements(int32_t(t) + 1, tableQuestions[t])) {
      try {
        target.Execute(statement);
      } catch (const CExportError& e) {
        if (!e.IsTooFewParameters()) throw;
      }
    }
  }
}

}  // namespace zx
