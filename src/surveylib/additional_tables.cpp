#include "surveylib/additional_tables.hpp"

#include <algorithm>

#include "platform/text.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {

int32_t CAdditionalTableToken::FirstDataOrder() const { return LeadingInt(firstDataOrder); }

int32_t CAdditionalTableToken::LastDataOrder() const { return LeadingInt(lastDataOrder); }

bool CAdditionalTableToken::NamesTable() const {
  return tableNumber >= 1 && tableNumber <= kHighestTableNumber;
}

std::string CAdditionalTableToken::Fault() const {
  if (!NamesTable()) return "names no response table";
  if (FirstDataOrder() > LastDataOrder()) return "has an empty DataOrder range";
  return {};
}

std::vector<CAdditionalTableToken> ReadAdditionalTables(std::string_view text) {
  std::vector<CAdditionalTableToken> tokens;
  for (std::string_view written : SplitTokens(text, ';')) {
    CAdditionalTableToken& token = tokens.emplace_back();
    token.text = std::string(written);
    const size_t colon = written.find(':');
    if (colon == std::string_view::npos) continue;
    token.tableNumber = LeadingInt(written.substr(0, colon));
    const std::string_view range = written.substr(colon + 1);
    const size_t comma = range.find(',');
    if (comma == std::string_view::npos) {
      token.lastDataOrder = std::string(range);
    } else {
      token.firstDataOrder = std::string(range.substr(0, comma));
      token.lastDataOrder = std::string(range.substr(comma + 1));
    }
  }
  return tokens;
}

std::vector<CAdditionalTableToken> TableTokens(const CQuestion& question) {
  if (!question.CarriesData()) return {};
  std::vector<CAdditionalTableToken> tokens = ReadAdditionalTables(question.m_additionalTables);
  tokens.erase(std::remove_if(tokens.begin(), tokens.end(),
                              [](const CAdditionalTableToken& t) { return !t.NamesTable(); }),
               tokens.end());
  return tokens;
}

}  // namespace zx
