// The shared rules every layer relies on: integers from text, token lists,
// dates, value conversions and keys, error reports, files.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unordered_set>

#include "platform/dates.hpp"
#include "platform/error.hpp"
#include "platform/files.hpp"
#include "platform/sync/semaphore.hpp"
#include "platform/text.hpp"
#include "platform/value.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

TEST(PlatformText, LeadingIntReadsLikeWtoi) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"  -7", -7},
      {"+15;", 15},
      {"\t 3 4", 3},
      {"- 3", 0},
      {"2147483647", 2147483647},
      {"99999999999", 2147483647},
      {"-99999999999", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"0012", 12},
  };
  for (const Case& c : cases) EXPECT_EQ(LeadingInt(c.text), c.expected) << "'" << c.text << "'";
}

TEST(PlatformText, Tokens) {
  EXPECT_EQ(SplitTokens(";;a;bc;;d;", ';'), (std::vector<std::string_view>{"a", "bc", "d"}));
  EXPECT_TRUE(SplitTokens("", ';').empty());
}

TEST(PlatformText, LocaleConversionKeepsUtf8UnderUtf8Locale) {
  // The test runs under the C locale unless told otherwise: ASCII passes,
  // anything else becomes one '?' per character.
  EXPECT_EQ(ToLocaleCharset("Info: 100%\n"), "Info: 100%\n");
  const std::string converted = ToLocaleCharset("caf\xC3\xA9!");
  EXPECT_TRUE(converted == "caf\xC3\xA9!" || converted == "caf?!") << converted;
}

TEST(PlatformDates, DayMonthYear) {
  EXPECT_EQ(ParseDayMonthYear("31/12/2014"), (CCalendarDate{2014, 12, 31}));
  EXPECT_EQ(ParseDayMonthYear("1/2/2014"), (CCalendarDate{2014, 2, 1}));
  EXPECT_EQ(ParseDayMonthYear("29/02/2016"), (CCalendarDate{2016, 2, 29}));
  for (const char* bad : {"29/02/2015", "32/01/2014", "00/01/2014", "01/13/2014", "2014-01-01",
                          "01/01/14", "01/01/2014 ", " 01/01/2014", "01/01/2014'; DROP", "",
                          "1/1/1700", "31/04/2014", "123/1/2014"}) {
    EXPECT_FALSE(ParseDayMonthYear(bad).has_value()) << bad;
  }
  EXPECT_EQ(FormatDayMonthYear({2014, 1, 2}), "02/01/2014");
}

TEST(PlatformValue, ConversionsFollowVariantRules) {
  EXPECT_EQ(CValue::FromInt16(-5).ToInt32(), -5);
  EXPECT_EQ(CValue::FromInt64(70000).ToInt32(), 70000);
  EXPECT_EQ(CValue::FromDouble(2.5).ToInt32(), 2);  // ties to even
  EXPECT_EQ(CValue::FromDouble(3.5).ToInt32(), 4);
  EXPECT_EQ(CValue::FromBool(true).ToInt32(), -1);
  EXPECT_EQ(CValue::FromText(" 42 ").ToInt32(), 42);
  EXPECT_EQ(CValue::FromInt32(7).ToText(), "7");
  EXPECT_EQ(CValue::FromDouble(1.25).ToText(), "1.25");
  EXPECT_EQ(CValue::FromDateTime({2014, 3, 4, 5, 6, 7, 0}).ToText(), "2014-03-04 05:06:07");

  auto codeOf = [](auto&& f) -> uint32_t {
    try {
      f();
    } catch (const CExportError& e) {
      return e.Code();
    }
    return 0;
  };
  EXPECT_EQ(codeOf([] { CValue().ToInt32(); }), codes::kTypeMismatch);
  EXPECT_EQ(codeOf([] { CValue().ToText(); }), codes::kTypeMismatch);
  EXPECT_EQ(codeOf([] { CValue::FromText("12abc").ToInt32(); }), codes::kTypeMismatch);
  EXPECT_EQ(codeOf([] { CValue::FromInt64(1LL << 40).ToInt32(); }), codes::kOverflow);
  EXPECT_EQ(codeOf([] { CValue::FromDouble(3e10).ToInt32(); }), codes::kOverflow);
}

TEST(PlatformValue, EqualityKeepsTypesButKeysMatchAcrossIntegerWidths) {
  EXPECT_NE(CValue::FromInt16(5), CValue::FromInt32(5));
  EXPECT_EQ(CValue::FromText("a"), CValue::FromText("a"));
  EXPECT_TRUE(CValue().IsNull());

  std::unordered_set<CValue, CValueKeyHash, CValueKeyEqual> keys;
  keys.insert(CValue::FromInt32(5));
  keys.insert(CValue::FromInt64(1LL << 40));
  EXPECT_TRUE(keys.count(CValue::FromInt16(5)));
  EXPECT_TRUE(keys.count(CValue::FromInt64(5)));
  EXPECT_FALSE(keys.count(CValue::FromInt32(6)));
  EXPECT_FALSE(keys.count(CValue::FromText("5")));
  EXPECT_TRUE(keys.count(CValue::FromInt64(1LL << 40)));
}

TEST(PlatformError, ReportShapeAndAccessors) {
  CExportError error(codes::kMissingField, "DAO.Fields", "Item not found in this collection.");
  CExportError copy = error;
  EXPECT_EQ(copy.Code(), 0x800A0CC1u);
  EXPECT_TRUE(copy.IsMissingField());
  EXPECT_FALSE(copy.IsResourcesExceeded());
  EXPECT_EQ(FormatErrorReport("CExporter::ReadTableFromSqlLegacy", copy),
            "Error at CExporter::ReadTableFromSqlLegacy\nDAO.Fields : Item not found in this "
            "collection.");
  EXPECT_EQ(FormatErrorReport("X", CExportError(codes::kFail, "", "")),
            "Error at X\n(unknown) : (unknown)");
  EXPECT_EQ(codes::Dao(3035), 0x800A0BDBu);
  EXPECT_EQ(codes::kRequiredFieldEmpty, 0x800A0CF2u);
  EXPECT_EQ(codes::kTooFewParameters, 0x800A0BF5u);

  errno = ENOENT;
  EXPECT_EQ(GetLastErrorText(), "No such file or directory");
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(SystemErrorText(0), "");
}

TEST(PlatformSemaphore, CountsAndCancelWakesWaiters) {
  CCancellableSemaphore semaphore(1, 2);
  EXPECT_TRUE(semaphore.Acquire());
  semaphore.Release(5);  // capped at the maximum
  EXPECT_TRUE(semaphore.Acquire());
  EXPECT_TRUE(semaphore.Acquire());

  std::atomic<int> results{0};
  std::thread waiter([&] { results = semaphore.Acquire() ? 1 : 2; });
  semaphore.Cancel();
  waiter.join();
  EXPECT_EQ(results.load(), 2);
  semaphore.Release();
  EXPECT_FALSE(semaphore.Acquire());  // stays cancelled
}

TEST(PlatformFiles, CopyReplaceAndTempPaths) {
  namespace fs = std::filesystem;
  const std::string dir = test::NewTempFolder("zuvfiles");
  const std::string a = dir + "/a", b = dir + "/b";
  std::ofstream(a) << "first";
  std::ofstream(b) << "old";

  CopyFileOver(a, b);
  EXPECT_EQ(fs::file_size(b), 5u);
  const std::string temp = SiblingTempPath(b, "work");
  EXPECT_NE(temp, SiblingTempPath(b, "work"));
  EXPECT_FALSE(fs::exists(temp));
  std::ofstream(temp) << "replacement";
  ReplaceFileAtomically(temp, b);
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(fs::file_size(b), 11u);

  EXPECT_THROW(CopyFileOver(dir + "/missing", b), CExportError);
  EXPECT_THROW(ReplaceFileAtomically(dir + "/missing", b), CExportError);
  EXPECT_EQ(fs::file_size(b), 11u);  // a failed replacement leaves the target

  std::ofstream(b + "-journal") << "j";
  RemoveFileQuietly(b);
  EXPECT_FALSE(fs::exists(b));
  EXPECT_FALSE(fs::exists(b + "-journal"));
  RemoveFileQuietly(b);  // already gone: fine
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zx
