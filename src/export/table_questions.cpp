// The per-table question lists (m_tableQuestions), read from the work copy's
// [Questionnaire]: whole questions by NroTableReponse, split ones by their
// AdditionalTables tokens.
#include <fmt/format.h>
#include <fmt/printf.h>

#include <algorithm>

#include "export/exporter.hpp"
#include "platform/zuv/engine.hpp"
#include "surveylib/additional_tables.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {

void CExporter::ListTableQuestions(CZuvDatabase& target, const CQuestionnaire& questionnaire,
                                   int32_t highestTableNumber, bool newLayout) {
  ReportInfo("Listing questions per table...");
  m_tableQuestions.assign(static_cast<size_t>(std::max<int32_t>(highestTableNumber, 0)), {});
  const char* typeColumn = newLayout ? ", TypeQuestion" : "";
  auto readType = [newLayout](const CZuvRecordset& row) -> int16_t {
    return newLayout ? static_cast<int16_t>(row.GetField("TypeQuestion").ToInt32()) : 0;
  };

  std::unique_ptr<CZuvRecordset> split = target.OpenRecordset(
      fmt::sprintf("SELECT CodeQuestion, AdditionalTables, NbMaxReponse%s FROM [Questionnaire] "
                   "WHERE AdditionalTables <> ''",
                   typeColumn));
  for (; !split->IsEOF(); split->MoveNext()) {
    const int32_t code = split->GetField("CodeQuestion").ToInt32();
    const CValue maxResponses = split->GetField("NbMaxReponse");
    const std::string additionalTables = split->GetField("AdditionalTables").ToText();
    const int16_t type = readType(*split);
    const CQuestion* question = nullptr;
    if (!questionnaire.FindQuestionById(code, question) || question == nullptr) continue;
    if (!question->CarriesData()) continue;
    for (CAdditionalTableToken& token : ReadAdditionalTables(additionalTables)) {
      // A loosely written questionnaire is exported all the same; the user
      // learns which part of it holds nothing.
      if (const std::string fault = token.Fault(); !fault.empty())
        ReportInfo(
            fmt::format("Question {}: AdditionalTables token '{}' {}", code, token.text, fault));
      if (token.tableNumber < 1 || token.tableNumber > highestTableNumber) continue;
      m_tableQuestions[token.tableNumber - 1].push_back(
          TableQuestion{std::to_string(code), type, maxResponses, true,
                        std::move(token.firstDataOrder), std::move(token.lastDataOrder)});
    }
  }
  split->Close();

  for (int32_t t = 1; t <= highestTableNumber; ++t) {
    std::unique_ptr<CZuvRecordset> whole = target.OpenRecordset(
        fmt::sprintf("SELECT CodeQuestion, NbMaxReponse%s FROM [Questionnaire] "
                     "WHERE AdditionalTables = '' AND NroTableReponse = %ld",
                     typeColumn, t));
    for (; !whole->IsEOF(); whole->MoveNext()) {
      m_tableQuestions[t - 1].push_back(
          TableQuestion{std::to_string(whole->GetField("CodeQuestion").ToInt32()),
                        readType(*whole),
                        whole->GetField("NbMaxReponse"),
                        false,
                        {},
                        {}});
    }
    whole->Close();
  }
}

}  // namespace zx
