#pragma once
// The shared rules for reading texts, used wherever a text becomes a number
// or a list.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zx {

// Leading-digit integer (the _wtoi rule): optional blanks and sign, then
// decimal digits up to the first other character; no digits gives 0. Values
// beyond 32 bits saturate at INT32_MIN / INT32_MAX.
int32_t LeadingInt(std::string_view text);

// Strict digits of fixed-format fields (dates, times): reads up to
// `maxDigits` decimal digits at `pos` into `out`, advancing `pos`; false when
// fewer than `minDigits` were there. No blanks, no sign.
bool ReadDigits(std::string_view text, size_t& pos, size_t minDigits, size_t maxDigits, int& out);

// Without leading and trailing blanks (space, tab, line breaks).
std::string_view TrimBlanks(std::string_view text);
// ASCII letters lowered; other bytes (UTF-8 included) unchanged.
std::string ToLowerAscii(std::string_view text);
// Equal but for the case of ASCII letters, as SQL names and connection keys compare.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Splits at `separator`, skipping empty tokens.
std::vector<std::string_view> SplitTokens(std::string_view text, char separator);

// One "T:first,last" token of an AdditionalTables text.
struct CAdditionalTableToken {
  int32_t tableNumber = 0;  // leading-digit value of the text before the first ':' (0 when none)
  std::string
      firstDataOrder;         // between the first ':' and the first ',' after it; empty when no ','
  std::string lastDataOrder;  // after that ','; the whole part after ':' when there is no ','
};
CAdditionalTableToken ParseAdditionalTableToken(std::string_view token);
// All tokens of an AdditionalTables text, empty tokens skipped.
std::vector<CAdditionalTableToken> ParseAdditionalTables(std::string_view text);

// UTF-8 to the locale's character set (nl_langinfo(CODESET)) through iconv,
// or on Windows to the thread's ANSI code page (CP_THREAD_ACP);
// characters it cannot represent become '?'. Under a UTF-8 locale the bytes
// pass unchanged.
std::string ToLocaleCharset(std::string_view utf8);

}  // namespace zx
