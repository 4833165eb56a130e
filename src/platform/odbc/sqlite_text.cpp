#include "platform/odbc/sqlite_text.hpp"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <string>

#include "platform/text.hpp"

namespace zx {

namespace {

// Exactly `count` digits at `pos`.
bool ReadFixedDigits(std::string_view text, size_t pos, size_t count, int& out) {
  return ReadDigits(text, pos, count, count, out);
}

CValue IntegerValue(int64_t value, CKind preferred) {
  if (preferred == CKind::Int16 && value >= INT16_MIN && value <= INT16_MAX) {
    return CValue::FromInt16(static_cast<int16_t>(value));
  }
  if (preferred != CKind::Int64 && value >= INT32_MIN && value <= INT32_MAX) {
    return CValue::FromInt32(static_cast<int32_t>(value));
  }
  return CValue::FromInt64(value);
}

}  // namespace

std::optional<int64_t> ParseSqliteInteger(std::string_view text) {
  const size_t digits = (!text.empty() && text[0] == '-') ? 1 : 0;
  if (text.size() == digits || text.size() > digits + 19) return std::nullopt;
  if (text[digits] == '0' && text.size() > digits + 1) return std::nullopt;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> ParseSqliteReal(std::string_view text) {
  if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return std::nullopt;
  if (text.find_first_of(".eE") == std::string_view::npos) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<CDateTime> ParseSqliteDateTime(std::string_view text) {
  int year, month, day, hour = 0, minute = 0, second = 0;
  if (!ReadFixedDigits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
      !ReadFixedDigits(text, 5, 2, month) || text[7] != '-' || !ReadFixedDigits(text, 8, 2, day)) {
    return std::nullopt;
  }
  uint32_t nanosecond = 0;
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || !ReadFixedDigits(text, 11, 2, hour) ||
        text.size() < 16 || text[13] != ':' || !ReadFixedDigits(text, 14, 2, minute)) {
      return std::nullopt;
    }
    size_t pos = 16;
    if (pos < text.size()) {
      if (text[pos] != ':' || !ReadFixedDigits(text, pos + 1, 2, second)) return std::nullopt;
      pos += 3;
    }
    if (pos < text.size()) {
      const size_t digits = text.size() - pos - 1;
      if (text[pos] != '.' || digits == 0 || digits > 9) return std::nullopt;
      int part = 0;
      for (size_t i = pos + 1; i < text.size(); ++i) {
        if (!ReadFixedDigits(text, i, 1, part)) return std::nullopt;
        nanosecond = nanosecond * 10 + static_cast<uint32_t>(part);
      }
      for (size_t i = digits; i < 9; ++i) nanosecond *= 10;
    }
  }
  if (!IsCalendarDay(year, month, day) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return CDateTime::From(year, month, day, hour, minute, second, nanosecond);
}

CValue ValueFromSqliteText(CKind kind, std::string_view text) {
  switch (kind) {
    case CKind::Text:
      return CValue::FromText(std::string(text));
    case CKind::DateTime:
      if (auto value = ParseSqliteDateTime(text)) return CValue::FromDateTime(*value);
      return CValue::FromText(std::string(text));
    case CKind::Double:
      if (auto value = ParseSqliteInteger(text)) {
        return CValue::FromDouble(static_cast<double>(*value));
      }
      break;
    case CKind::Bool:
      if (auto value = ParseSqliteInteger(text)) return CValue::FromBool(*value != 0);
      break;
    default:
      if (auto value = ParseSqliteInteger(text)) return IntegerValue(*value, kind);
      break;
  }
  if (auto value = ParseSqliteReal(text)) return CValue::FromDouble(*value);
  return CValue::FromText(std::string(text));
}

bool IsUntypedSqliteColumn(std::string_view typeName) {
  if (typeName == "varchar") return true;
  std::string upper(typeName);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find("CHAR") == std::string::npos && upper.find("CLOB") == std::string::npos &&
         upper.find("TEXT") == std::string::npos;
}

}  // namespace zx
