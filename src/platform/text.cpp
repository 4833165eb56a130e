#include "platform/text.hpp"

#include <algorithm>
#include <limits>

namespace zx {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

bool ReadDigits(std::string_view text, size_t& pos, size_t minDigits, size_t maxDigits, int& out) {
  const size_t start = pos;
  out = 0;
  while (pos < text.size() && pos - start < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
    out = out * 10 + (text[pos++] - '0');
  }
  return pos - start >= minDigits;
}

int32_t LeadingInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;  // saturate; keep scanning digits
  }
  if (negative) return static_cast<int32_t>(-value);
  return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

std::vector<std::string_view> SplitTokens(std::string_view text, char separator) {
  std::vector<std::string_view> tokens;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) tokens.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return tokens;
}

CAdditionalTableToken ParseAdditionalTableToken(std::string_view token) {
  CAdditionalTableToken parsed;
  const size_t colon = token.find(':');
  if (colon == std::string_view::npos) return parsed;  // no table number: 0
  parsed.tableNumber = LeadingInt(token.substr(0, colon));
  std::string_view range = token.substr(colon + 1);
  const size_t comma = range.find(',');
  if (comma == std::string_view::npos) {
    parsed.lastDataOrder = std::string(range);
  } else {
    parsed.firstDataOrder = std::string(range.substr(0, comma));
    parsed.lastDataOrder = std::string(range.substr(comma + 1));
  }
  return parsed;
}

std::vector<CAdditionalTableToken> ParseAdditionalTables(std::string_view text) {
  std::vector<CAdditionalTableToken> tokens;
  for (std::string_view token : SplitTokens(text, ';')) {
    tokens.push_back(ParseAdditionalTableToken(token));
  }
  return tokens;
}

}  // namespace zx
