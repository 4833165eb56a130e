#pragma once
// Interview start-date bounds given on the command line as dd/mm/yyyy.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zx {

struct CCalendarDate {
  int year = 0, month = 0, day = 0;
  bool operator==(const CCalendarDate&) const = default;
};

// Accepts d/m/yyyy or dd/mm/yyyy (1 or 2 digit day and month, 4 digit year
// from 1753 to 9999, the SQL Server DATETIME range) naming a real calendar
// date; anything else, blanks included, gives nullopt.
std::optional<CCalendarDate> ParseDayMonthYear(std::string_view text);

// True when year-month-day names a day of the Gregorian calendar.
bool IsCalendarDay(int year, int month, int day);

// "dd/mm/yyyy" with leading zeros.
std::string FormatDayMonthYear(const CCalendarDate& date);

}  // namespace zx
