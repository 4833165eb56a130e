#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "export/new_planning.hpp"
#include "platform/odbc/source.hpp"
#include "support/sqlite_file.hpp"
#include "support/sqlite_values.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

class CDialectOnly : public CSourceConnection {
 public:
  explicit CDialectOnly(SqlDialect dialect) : m_dialect(dialect) {}
  std::unique_ptr<CSourceRecordset> Execute(const std::string&) override {
    throw std::logic_error("no query expected");
  }
  SqlDialect Dialect() const override { return m_dialect; }

 private:
  SqlDialect m_dialect;
};

TEST(NewPlanning, FilterClauseIsBuiltFromTheParsedDatesInTheServersDialect) {
  const CDialectOnly sqlServer(SqlDialect::SqlServer);
  const CCalendarDate first{2014, 1, 1};
  const CCalendarDate last{2014, 12, 31};
  EXPECT_EQ(BuildInterviewFilterClause(NONE, {}, {}, sqlServer), "");
  EXPECT_EQ(BuildInterviewFilterClause(COMPLETE, {}, {}, sqlServer), "Completed <> 0");
  EXPECT_EQ(BuildInterviewFilterClause(COMPLETE, {}, last, sqlServer),
            "Completed <> 0 AND StartInterview < CONVERT(DATETIME, '31/12/2014', 103)");
  EXPECT_EQ(BuildInterviewFilterClause(NONE, first, {}, sqlServer),
            "StartInterview > CONVERT(DATETIME, '01/01/2014', 103)");
  EXPECT_EQ(BuildInterviewFilterClause(INCOMPLETE, first, last, sqlServer),
            "Completed = 0 AND StartInterview > CONVERT(DATETIME, '01/01/2014', 103) AND "
            "StartInterview < CONVERT(DATETIME, '31/12/2014', 103)");
  const CDialectOnly sqlite(SqlDialect::Sqlite);
  EXPECT_EQ(BuildInterviewFilterClause(NONE, first, last, sqlite),
            "StartInterview > '2014-01-01 00:00:00' AND StartInterview < '2014-12-31 00:00:00'");
}

TEST(NewPlanning, NamesAndQuestionList) {
  EXPECT_EQ(NewDataTableName(7), "[Orvix0007Data]");
  EXPECT_EQ(NewInterviewTableName(7), "[Orvix0007Interview]");
  EXPECT_EQ(NewDataTableName(123456), "[Orvix123456Data]");

  std::vector<std::vector<TableQuestion>> tables(3);
  EXPECT_EQ(BuildQuestionList(tables), "");
  tables[0].push_back(TableQuestion{"12", 1, CValue::FromInt32(1), false, "", ""});
  tables[1].push_back(TableQuestion{"40", 2, CValue::FromInt32(9), true, "1", "5"});
  tables[2].push_back(TableQuestion{"40", 2, CValue::FromInt32(9), true, "6", "9"});
  tables[2].push_back(TableQuestion{"7); DROP TABLE x; --", 1, {}, false, "", ""});
  // Codes repeat per entry; only numbers reach the SQL.
  EXPECT_EQ(BuildQuestionList(tables), "12,40,40,7");
}

std::vector<CInterviewRange> Ranges(int32_t rows, int32_t interviews, std::optional<int32_t> minId,
                                    std::optional<int32_t> maxId, size_t limit = 10) {
  CInterviewRangePlan plan(CNewLayoutCounts{rows, interviews, minId, maxId});
  std::vector<CInterviewRange> ranges;
  for (CInterviewRange range; ranges.size() < limit && plan.Next(range);) ranges.push_back(range);
  return ranges;
}

TEST(NewPlanning, RangesCoverTheIdsPassingTheFilterOnce) {
  {
    // 10 rows per interview: ranges of 1001 ids, from the smallest id.
    const auto ranges = Ranges(1000, 100, 5, 2500);
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0], (CInterviewRange{5, 1005}));
    EXPECT_EQ(ranges[1], (CInterviewRange{1006, 2006}));
    EXPECT_EQ(ranges[2], (CInterviewRange{2007, 2500}));
  }
  {
    const auto ranges = Ranges(50000, 10, 0, 10);
    ASSERT_EQ(ranges.size(), 4u);
    EXPECT_EQ(ranges[0], (CInterviewRange{0, 2}));
    EXPECT_EQ(ranges[3], (CInterviewRange{9, 10}));
  }
  {
    // More than TargetRowsPerBatch rows per interview: one id per range.
    const auto ranges = Ranges(30000, 2, 7, 8);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[1], (CInterviewRange{8, 8}));
  }
  {
    // Fewer rows than interviews: an interview counts as one row.
    const auto ranges = Ranges(3, 50, 1, 30000);
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0], (CInterviewRange{1, 10001}));
    EXPECT_EQ(ranges[2], (CInterviewRange{20003, 30000}));
  }
  {
    // No interview passes: nothing is read.
    EXPECT_TRUE(Ranges(0, 0, {}, {}).empty());
    EXPECT_TRUE(Ranges(0, 0, 0, 0).empty());
  }
  {
    // The largest id ends the plan instead of wrapping round.
    const auto ranges = Ranges(10, 1, INT32_MAX - 1, INT32_MAX, 5);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0], (CInterviewRange{INT32_MAX - 1, INT32_MAX}));
    const auto single = Ranges(20000, 1, INT32_MAX, INT32_MAX, 5);
    ASSERT_EQ(single.size(), 1u);
  }
}

TEST(NewPlanning, CountsSelectTheFilteredInterviews) {
  test::CTempDir dir;
  const std::string db = dir.file("source.db");
  test::RunSql(db,
               "CREATE TABLE Orvix0012Interview (InterviewID INTEGER PRIMARY KEY, "
               "StartInterview TEXT, Completed INTEGER);"
               "CREATE TABLE Orvix0012Data (InterviewID INTEGER, QuestionID INTEGER, "
               "DataOrder INTEGER, ClosedData INTEGER);"
               "INSERT INTO Orvix0012Interview VALUES (3, '2014-03-01 00:00:00', 1),"
               " (9, '2014-03-01 00:00:01', 1), (17, '2014-02-28 23:59:59', 0),"
               " (40, '2014-05-01 10:00:00', 1);"
               "INSERT INTO Orvix0012Data VALUES (3,1,1,1),(3,2,1,1),(9,1,1,1),(9,5,1,1),"
               " (17,1,1,1),(17,2,1,1),(17,2,2,1),(40,2,1,1);");
  auto source = ConnectOdbc(test::SqliteConnectString(db), 30);
  std::vector<std::string> messages;
  const InfoReport info = [&](const std::string& m) { messages.push_back(m); };
  auto clause = [&](CompletionFilter c, std::optional<CCalendarDate> min,
                    std::optional<CCalendarDate> max) {
    return BuildInterviewFilterClause(c, min, max, *source);
  };
  {
    const auto counts = CountNewLayoutSource(*source, info, 12, "1,2", "");
    EXPECT_EQ(counts.rowCount, 7);
    EXPECT_EQ(counts.interviewCount, 4);
    EXPECT_EQ(counts.minInterviewId, 3);
    EXPECT_EQ(counts.maxInterviewId, 40);
    EXPECT_EQ(messages,
              (std::vector<std::string>{
                  "Getting total number of rows...", "The total number of rows is 7\n",
                  "Getting total number of interviews...", "The total number of interviews is 4\n",
                  "The biggest interview id is 40\n"}));
  }
  {
    // Both bounds exclusive: interview 3 started exactly at the lower one.
    const auto counts =
        CountNewLayoutSource(*source, info, 12, "1,2",
                             clause(NONE, CCalendarDate{2014, 3, 1}, CCalendarDate{2014, 5, 1}));
    EXPECT_EQ(counts.rowCount, 1);
    EXPECT_EQ(counts.interviewCount, 1);
    EXPECT_EQ(counts.minInterviewId, 9);
    EXPECT_EQ(counts.maxInterviewId, 9);
  }
  {
    const auto counts = CountNewLayoutSource(*source, info, 12, "2", clause(INCOMPLETE, {}, {}));
    EXPECT_EQ(counts.rowCount, 2);
    EXPECT_EQ(counts.interviewCount, 1);
    EXPECT_EQ(counts.minInterviewId, 17);
  }
  {
    messages.clear();
    const auto counts = CountNewLayoutSource(*source, info, 12, "1",
                                             clause(COMPLETE, CCalendarDate{2015, 1, 1}, {}));
    EXPECT_EQ(counts.interviewCount, 0);
    EXPECT_FALSE(counts.maxInterviewId.has_value());
    EXPECT_FALSE(counts.minInterviewId.has_value());
    EXPECT_EQ(messages.back(), "The biggest interview id is 0\n");
    EXPECT_TRUE(
        Ranges(counts.rowCount, counts.interviewCount, counts.minInterviewId, counts.maxInterviewId)
            .empty());
  }
}

}  // namespace
}  // namespace zx
