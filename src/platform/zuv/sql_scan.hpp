#pragma once
// The little SQL reading the engine does itself: keywords, bracketed names
// and the table of a one-table SELECT. Pure text functions.
#include <cstddef>
#include <string>
#include <string_view>

namespace zx {

// ASCII letters lowered; other bytes unchanged (SQL names compare this way).
std::string FoldAscii(std::string_view text);

// A table name with surrounding blanks and one pair of [brackets] removed.
std::string StripBrackets(std::string_view name);

// The first word of a statement, upper-cased ("" when there is none).
std::string FirstKeyword(std::string_view sql);

// What a one-table SELECT reads from, found by a small scan that respects
// quotes, brackets and parentheses.
struct CSelectShape {
  std::string table;       // empty when the FROM clause is not one plain table
  size_t afterSelect = 0;  // offset just after the SELECT keyword
  bool distinct = false;
};

CSelectShape ScanSelect(std::string_view sql);

}  // namespace zx
