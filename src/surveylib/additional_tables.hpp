#pragma once
// The AdditionalTables text of a question: the response tables that hold the
// parts of a question split over several of them. The one reader of that text
// for the questionnaire, the response tables and the export's per-table lists.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zx {

class CQuestion;

// Response tables are numbered as NroTableReponse, in 16 bits.
inline constexpr int32_t kHighestTableNumber = INT16_MAX;

// One token "T:first,last", read loosely: each number by the leading-digit
// rule (LeadingInt), so blanks before it, a sign and text after it are allowed.
struct CAdditionalTableToken {
  std::string text;  // as written, for messages
  // The value of the text before the first ':'; 0 without ':'.
  int32_t tableNumber = 0;
  // Between the first ':' and the first ',' after it, and after that ','.
  // Without ',' the first is empty and the last is the whole part after ':'.
  std::string firstDataOrder;
  std::string lastDataOrder;

  int32_t FirstDataOrder() const;
  int32_t LastDataOrder() const;
  // 1 to kHighestTableNumber; a token naming no table places nothing.
  bool NamesTable() const;
  // What makes the token doubtful: it names no table, or its DataOrder range
  // is empty (first above last). Empty when nothing does.
  std::string Fault() const;
};

// Every token of `text` in order, empty tokens skipped; nothing is refused.
std::vector<CAdditionalTableToken> ReadAdditionalTables(std::string_view text);

// The tokens of `question` that name a table; none when it carries no data,
// whatever its text holds.
std::vector<CAdditionalTableToken> TableTokens(const CQuestion& question);

}  // namespace zx
