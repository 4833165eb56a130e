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
  EXPECT_EQ(BuildInterviewFilterClause(CompletionFilter::NONE, {}, {}, sqlServer), "");
  EXPECT_EQ(BuildInterviewFilterClause(CompletionFilter::COMPLETE, {}, {}, sqlServer),
            "Completed <> 0");
  EXPECT_EQ(BuildInterviewFilterClause(CompletionFilter::COMPLETE, {}, last, sqlServer),
            "Completed <> 0 AND StartInterview < CONVERT(DATETIME, '31/12/2014', 103)");
  EXPECT_EQ(BuildInterviewFilterClause(CompletionFilter::NONE, first, {}, sqlServer),
            "StartInterview > CONVERT(DATETIME, '01/01/2014', 103)");
  EXPECT_EQ(BuildInterviewFilterClause(CompletionFilter::INCOMPLETE, first, last, sqlServer),
            "Completed = 0 AND StartInterview > CONVERT(DATETIME, '01/01/2014', 103) AND "
            "StartInterview < CONVERT(DATETIME, '31/12/2014', 103)");
  const CDialectOnly sqlite(SqlDialect::Sqlite);
  EXPECT_EQ(BuildInterviewFilterClause(CompletionFilter::NONE, first, last, sqlite),
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

std::vector<int32_t> IdsFrom(int32_t first, int32_t count, int32_t gap = 1) {
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < count; ++i) ids.push_back(first + i * gap);
  return ids;
}

// Every id falls in exactly one range, ranges ascend, and each holds at most
// `perRange` distinct ids.
void ExpectCovered(const std::vector<CInterviewRange>& ranges, const std::vector<int32_t>& ids,
                   size_t perRange) {
  for (size_t r = 1; r < ranges.size(); ++r) ASSERT_LT(ranges[r - 1].last, ranges[r].first);
  size_t at = 0;
  for (const CInterviewRange& range : ranges) {
    ASSERT_LE(range.first, range.last);
    ASSERT_LT(at, ids.size());
    EXPECT_EQ(range.first, ids[at]);
    size_t distinct = 0;
    for (; at < ids.size() && ids[at] <= range.last; ++at) {
      if (at == 0 || ids[at] != ids[at - 1]) ++distinct;
    }
    EXPECT_EQ(range.last, ids[at - 1]);
    EXPECT_LE(distinct, perRange);
  }
  EXPECT_EQ(at, ids.size());
}

TEST(NewPlanning, RangesCutThePassingIdsIntoRunsOfInterviews) {
  {
    // 10 rows per interview: runs of 1000 interviews; dense ids give ranges
    // of 1000 ids.
    const auto ids = IdsFrom(5, 2496);
    const auto ranges = PlanInterviewRanges(ids, 24960, 2496);
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0], (CInterviewRange{5, 1004}));
    EXPECT_EQ(ranges[1], (CInterviewRange{1005, 2004}));
    EXPECT_EQ(ranges[2], (CInterviewRange{2005, 2500}));
    ExpectCovered(ranges, ids, 1000);
  }
  {
    // 5000 rows per interview: two interviews a range.
    const auto ranges = PlanInterviewRanges(IdsFrom(0, 5), 25000, 5);
    EXPECT_EQ(ranges, (std::vector<CInterviewRange>{{0, 1}, {2, 3}, {4, 4}}));
  }
  {
    // More than TargetRowsPerBatch rows per interview: one interview a range.
    const auto ranges = PlanInterviewRanges({7, 8}, 30000, 2);
    EXPECT_EQ(ranges, (std::vector<CInterviewRange>{{7, 7}, {8, 8}}));
  }
  {
    // Fewer rows than interviews: an interview counts as one row.
    const auto ids = IdsFrom(1, 25000);
    const auto ranges = PlanInterviewRanges(ids, 3, 25000);
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0], (CInterviewRange{1, 10000}));
    EXPECT_EQ(ranges[2], (CInterviewRange{20001, 25000}));
    ExpectCovered(ranges, ids, 10000);
  }
  {
    // No interview passes: nothing is read.
    EXPECT_TRUE(PlanInterviewRanges({}, 0, 0).empty());
    EXPECT_TRUE(PlanInterviewRanges({}, 100, 3).empty());
  }
  {
    // A table pass joins planned ranges into batches of its own rows: one
    // range first, then as many as hold about 5000 rows, growing at most
    // twofold, at least one.
    EXPECT_EQ(NextRangeRun(0, 0, 0), 1u);
    EXPECT_EQ(NextRangeRun(500, 1, 1), 2u);     // would fit 10
    EXPECT_EQ(NextRangeRun(1500, 3, 2), 4u);    // would fit 10
    EXPECT_EQ(NextRangeRun(3500, 7, 8), 10u);   // fits 10
    EXPECT_EQ(NextRangeRun(0, 17, 10), 20u);    // no row yet
    EXPECT_EQ(NextRangeRun(90000, 9, 4), 1u);   // denser than planned
    EXPECT_EQ(NextRangeRun(12500, 10, 4), 4u);  // 1250 rows a range
  }
}

TEST(NewPlanning, RangesFollowThinlySpreadIds) {
  {
    // 10,000 interviews spread up to 2e9: as many ranges as dense ids would
    // need, not one per 10,000 ids of the span.
    const auto ids = IdsFrom(-5000, 10000, 200000);
    const auto ranges = PlanInterviewRanges(ids, 100000, 10000);
    ASSERT_EQ(ranges.size(), 10u);
    EXPECT_EQ(ranges[0], (CInterviewRange{-5000, -5000 + 999 * 200000}));
    EXPECT_EQ(ranges[9].last, ids.back());
    ExpectCovered(ranges, ids, 1000);
  }
  {
    // Ids at both ends of the 32-bit range.
    const std::vector<int32_t> ids{INT32_MIN, 0, INT32_MAX - 1, INT32_MAX};
    const auto ranges = PlanInterviewRanges(ids, 4 * 5000, 4);
    EXPECT_EQ(ranges, (std::vector<CInterviewRange>{{INT32_MIN, 0}, {INT32_MAX - 1, INT32_MAX}}));
  }
  {
    // A repeated id stays in one range, which may then hold more rows.
    const std::vector<int32_t> ids{1, 2, 2, 2, 3, 4};
    const auto ranges = PlanInterviewRanges(ids, 6 * 5000, 6);
    EXPECT_EQ(ranges, (std::vector<CInterviewRange>{{1, 2}, {3, 4}}));
    ExpectCovered(ranges, ids, 2);
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
    EXPECT_EQ(counts.maxInterviewId, 40);
    EXPECT_EQ(ReadPassingInterviewIds(*source, 12, ""), (std::vector<int32_t>{3, 9, 17, 40}));
    EXPECT_EQ(messages,
              (std::vector<std::string>{
                  "Getting total number of rows...", "The total number of rows is 7\n",
                  "Getting total number of interviews...", "The total number of interviews is 4\n",
                  "The biggest interview id is 40\n"}));
  }
  {
    // Both bounds exclusive: interview 3 started exactly at the lower one.
    const std::string filter =
        clause(CompletionFilter::NONE, CCalendarDate{2014, 3, 1}, CCalendarDate{2014, 5, 1});
    const auto counts = CountNewLayoutSource(*source, info, 12, "1,2", filter);
    EXPECT_EQ(counts.rowCount, 1);
    EXPECT_EQ(counts.interviewCount, 1);
    EXPECT_EQ(counts.maxInterviewId, 9);
    EXPECT_EQ(ReadPassingInterviewIds(*source, 12, filter), (std::vector<int32_t>{9}));
  }
  {
    const auto counts =
        CountNewLayoutSource(*source, info, 12, "2", clause(CompletionFilter::INCOMPLETE, {}, {}));
    EXPECT_EQ(counts.rowCount, 2);
    EXPECT_EQ(counts.interviewCount, 1);
    EXPECT_EQ(counts.maxInterviewId, 17);
    EXPECT_EQ(ReadPassingInterviewIds(*source, 12, clause(CompletionFilter::INCOMPLETE, {}, {})),
              (std::vector<int32_t>{17}));
  }
  {
    messages.clear();
    const std::string filter = clause(CompletionFilter::COMPLETE, CCalendarDate{2015, 1, 1}, {});
    const auto counts = CountNewLayoutSource(*source, info, 12, "1", filter);
    EXPECT_EQ(counts.interviewCount, 0);
    EXPECT_FALSE(counts.maxInterviewId.has_value());
    EXPECT_EQ(messages.back(), "The biggest interview id is 0\n");
    const auto ids = ReadPassingInterviewIds(*source, 12, filter);
    EXPECT_TRUE(ids.empty());
    EXPECT_TRUE(PlanInterviewRanges(ids, counts.rowCount, counts.interviewCount).empty());
  }
}

}  // namespace
}  // namespace zx
