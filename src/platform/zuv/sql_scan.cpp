#include "platform/zuv/sql_scan.hpp"

#include <cctype>

namespace zx {

std::string FoldAscii(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string StripBrackets(std::string_view name) {
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.front())))
    name.remove_prefix(1);
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())))
    name.remove_suffix(1);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  return std::string(name);
}

std::string FirstKeyword(std::string_view sql) {
  size_t i = 0;
  while (i < sql.size() && !std::isalpha(static_cast<unsigned char>(sql[i]))) ++i;
  size_t j = i;
  while (j < sql.size() && std::isalpha(static_cast<unsigned char>(sql[j]))) ++j;
  std::string word(sql.substr(i, j - i));
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word;
}

CSelectShape ScanSelect(std::string_view sql) {
  CSelectShape shape;
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  };
  auto readWord = [&] {
    size_t start = i;
    while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_'))
      ++i;
    return FoldAscii(sql.substr(start, i - start));
  };
  auto skipQuoted = [&](char close) {
    ++i;
    while (i < sql.size()) {
      if (sql[i] == close) {
        if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
          i += 2;
          continue;
        }
        ++i;
        return;
      }
      ++i;
    }
  };
  skipSpace();
  if (readWord() != "select") return shape;
  shape.afterSelect = i;
  skipSpace();
  size_t save = i;
  std::string first = readWord();
  shape.distinct = first == "distinct" || first == "all";
  i = save;
  int depth = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '`') {
      skipQuoted(c);
    } else if (c == '[') {
      skipQuoted(']');
    } else if (c == '(') {
      ++depth, ++i;
    } else if (c == ')') {
      --depth, ++i;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::string word = readWord();
      if (depth == 0 && word == "from") break;
    } else {
      ++i;
    }
  }
  if (i >= sql.size()) return shape;
  skipSpace();
  std::string table;
  if (i < sql.size() && (sql[i] == '[' || sql[i] == '"' || sql[i] == '`')) {
    char close = sql[i] == '[' ? ']' : sql[i];
    size_t start = i;
    skipQuoted(close);
    std::string_view token = sql.substr(start + 1, i - start - 2);
    if (close == ']') {
      table = std::string(token);
    } else {
      for (size_t k = 0; k < token.size(); ++k) {
        table += token[k];
        if (token[k] == close && k + 1 < token.size() && token[k + 1] == close) ++k;
      }
    }
  } else {
    size_t start = i;
    while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_'))
      ++i;
    table = std::string(sql.substr(start, i - start));
  }
  skipSpace();
  // A comma or a join after the table means more than one table.
  save = i;
  std::string next = readWord();
  if (i < sql.size() && sql[save] == ',') return shape;
  if (next == "join" || next == "inner" || next == "left" || next == "cross" || next == "natural" ||
      next == "right" || next == "full") {
    return shape;
  }
  shape.table = std::move(table);
  return shape;
}

}  // namespace zx
