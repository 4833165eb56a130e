#include "platform/dates.hpp"

#include <fmt/format.h>

#include "platform/text.hpp"

namespace zx {

bool IsCalendarDay(int year, int month, int day) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= (month == 2 && leap ? 29 : kDays[month - 1]);
}

std::optional<CCalendarDate> ParseDayMonthYear(std::string_view text) {
  CCalendarDate date;
  size_t pos = 0;
  if (!ReadDigits(text, pos, 1, 2, date.day) || pos >= text.size() || text[pos++] != '/') {
    return std::nullopt;
  }
  if (!ReadDigits(text, pos, 1, 2, date.month) || pos >= text.size() || text[pos++] != '/') {
    return std::nullopt;
  }
  if (!ReadDigits(text, pos, 4, 4, date.year) || pos != text.size()) return std::nullopt;
  if (date.year < 1753 || !IsCalendarDay(date.year, date.month, date.day)) return std::nullopt;
  return date;
}

std::string FormatDayMonthYear(const CCalendarDate& date) {
  return fmt::format("{:02}/{:02}/{:04}", date.day, date.month, date.year);
}

}  // namespace zx
