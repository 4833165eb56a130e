#include <gtest/gtest.h>

#include "export/new_reader.hpp"
#include "platform/error.hpp"
#include "platform/odbc/source.hpp"
#include "support/sqlite_file.hpp"
#include "support/sqlite_values.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

TableQuestion Whole(const char* code) {
  return TableQuestion{code, 1, CValue::FromInt32(1), false, "", ""};
}
TableQuestion Part(const char* code, const char* first, const char* last) {
  return TableQuestion{code, 2, CValue::FromInt32(9), true, first, last};
}

TEST(NewReader, QueryTexts) {
  const std::string data = "[Orvix0007Data]";
  EXPECT_EQ(BuildQuestionCondition(data, {}), "");
  EXPECT_EQ(BuildQuestionCondition(data, {Whole("4"), Whole("9")}),
            "[Orvix0007Data].QuestionID in (4,9) ");
  EXPECT_EQ(BuildQuestionCondition(data, {Part("5", "1", "50"), Part("6", "3", "4")}),
            "([Orvix0007Data].QuestionID = 5 AND [Orvix0007Data].DataOrder BETWEEN 1 AND 50) OR "
            "([Orvix0007Data].QuestionID = 6 AND [Orvix0007Data].DataOrder BETWEEN 3 AND 4)");
  EXPECT_EQ(BuildQuestionCondition(data, {Part("5", "51", "100"), Whole("4")}),
            "[Orvix0007Data].QuestionID in (4)  OR ([Orvix0007Data].QuestionID = 5 AND "
            "[Orvix0007Data].DataOrder BETWEEN 51 AND 100)");
  // Questionnaire texts reach the SQL as numbers only.
  EXPECT_EQ(BuildQuestionCondition(data, {Part("5", "1) OR (1=1", "x")}),
            "([Orvix0007Data].QuestionID = 5 AND [Orvix0007Data].DataOrder BETWEEN 1 AND 0)");

  // Without a filter and for whole questions only.
  EXPECT_EQ(BuildTableRangeQuery(7, {Whole("9")}, "C", "", CInterviewRange{1, 1}),
            "SELECT [Orvix0007Data].* FROM [Orvix0007Interview] CROSS JOIN [Orvix0007Data] WHERE "
            "[Orvix0007Data].InterviewID = [Orvix0007Interview].InterviewID AND "
            "[Orvix0007Interview].InterviewID BETWEEN 1 AND 1 AND [Orvix0007Data].QuestionID "
            "IN (9) AND (C)");
  EXPECT_EQ(BuildInterviewRangeQuery(7, "", CInterviewRange{201, 401}),
            "SELECT * FROM [Orvix0007Interview] WHERE [InterviewID] BETWEEN 201 AND 401");
  EXPECT_EQ(
      BuildTableRangeQuery(7, {Whole("9"), Part("5", "1", "2"), Whole("4x"), Part("5", "3", "4")},
                           "C", "Completed <> 0", CInterviewRange{201, 401}),
      "SELECT [Orvix0007Data].* FROM [Orvix0007Interview] CROSS JOIN [Orvix0007Data] WHERE "
      "[Orvix0007Data].InterviewID = [Orvix0007Interview].InterviewID AND "
      "[Orvix0007Interview].InterviewID BETWEEN 201 AND 401 AND [Orvix0007Data].QuestionID "
      "IN (4,5,9) AND (C) AND (Completed <> 0)");
  EXPECT_EQ(BuildInterviewRangeQuery(7, "Completed <> 0", CInterviewRange{-5, 9}),
            "SELECT * FROM [Orvix0007Interview] WHERE [InterviewID] BETWEEN -5 AND 9 AND "
            "(Completed <> 0)");
}

class NewReaderRows : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RunSql(m_db,
                 "CREATE TABLE Data (InterviewID INTEGER, QuestionID INTEGER, DataOrder INTEGER,"
                 " LoopID1 INTEGER, LoopID2 INTEGER, ClosedData INTEGER, NumericData REAL,"
                 " OpenData TEXT, Duration INTEGER, Extra TEXT);"
                 "CREATE TABLE Interview (InterviewID INTEGER PRIMARY KEY, AgentId TEXT,"
                 " Completed INTEGER, Unmapped TEXT);"
                 "INSERT INTO Interview VALUES (1, 'A1', 1, 'u'), (2, 'A2', 0, 'v');");
  }
  NewLayoutBatch Read(const std::string& sql) {
    auto source = ConnectOdbc(test::SqliteConnectString(m_db), 30);
    auto recordset = source->Execute(sql);
    NewLayoutBatch batch;
    m_rowsRead = ReadNewLayoutRows(*recordset, NewLayoutInterviewFieldMap(), batch);
    return batch;
  }
  test::CTempDir m_dir;
  std::string m_db = m_dir.file("source.db");
  int32_t m_rowsRead = 0;
};

TEST_F(NewReaderRows, RowsAreIndexedByInterviewLoopQuestionAndDataOrder) {
  test::RunSql(m_db,
               "INSERT INTO Data VALUES"
               " (1, 10, 2, NULL, NULL, 7, NULL, NULL, 30, 'x'),"
               " (1, 10, 1, NULL, NULL, 5, NULL, NULL, 30, 'x'),"
               " (1, 20, 1, 3, NULL, NULL, 2.5, NULL, 11, 'x'),"
               " (1, 21, 1, 3, 8, NULL, NULL, 'txt', 12, 'x'),"
               " (2, 10, 1, NULL, 4, 1, NULL, NULL, 9, 'x'),"
               " (1, 10, 2, NULL, NULL, 8, NULL, NULL, 31, 'x');");
  const NewLayoutBatch batch =
      Read("SELECT * FROM Data JOIN Interview ON Data.InterviewID = Interview.InterviewID");
  EXPECT_EQ(m_rowsRead, 6);
  const SourceRowLayout& layout = *batch.layout;
  ASSERT_EQ(layout.loopIds.size(), 2u);
  // Only the mapped interview columns are kept, once per interview.
  ASSERT_EQ(layout.interviewFields.size(), 2u);
  EXPECT_EQ(layout.interviewFields[0].second, "CodeEnqueteur");
  EXPECT_EQ(layout.interviewFields[1].second, "Completed");
  ASSERT_EQ(batch.interviews.size(), 2u);

  const InterviewNode& first = batch.interviews.at(1);
  EXPECT_EQ(first.interviewValues[0], CValue::FromText("A1"));
  // The node has its own answers and a loop: both are kept.
  ASSERT_EQ(first.questions.size(), 2u);
  EXPECT_EQ(first.questions[0].dataOrder, 1);
  EXPECT_EQ(first.questions[1].dataOrder, 2);
  // The later of two rows with the same key wins.
  EXPECT_EQ(batch.Row(first.questions[1].row).At(layout.closedData).ToInt32(), 8);
  ASSERT_EQ(first.subLoops.size(), 1u);
  const InterviewNode& loop = first.subLoops.at(3);
  ASSERT_EQ(loop.questions.size(), 1u);
  EXPECT_EQ(batch.Row(loop.questions[0].row).At(layout.numericData), CValue::FromDouble(2.5));
  const InterviewNode& inner = loop.subLoops.at(8);
  ASSERT_EQ(inner.questions.size(), 1u);
  EXPECT_EQ(batch.Row(inner.questions[0].row).At(layout.openData), CValue::FromText("txt"));
  EXPECT_EQ(batch.Row(inner.questions[0].row).At(layout.duration).ToInt32(), 12);

  // A NULL LoopID1 ends the path, whatever follows it.
  const InterviewNode& second = batch.interviews.at(2);
  EXPECT_TRUE(second.subLoops.empty());
  ASSERT_EQ(second.questions.size(), 1u);
}

TEST_F(NewReaderRows, InterviewFieldsAreReadOncePerInterview) {
  test::RunSql(m_db,
               "INSERT INTO Interview VALUES (4, 'A4', 1, 'w');"
               "INSERT INTO Data VALUES (1, 10, 1, NULL, NULL, 5, NULL, NULL, 3, 'x'),"
               " (3, 10, 1, NULL, NULL, 6, NULL, NULL, 3, 'x'),"
               " (1, 11, 1, NULL, NULL, 7, NULL, NULL, 3, 'x');");
  NewLayoutBatch batch = Read("SELECT Data.* FROM Data");
  EXPECT_TRUE(batch.layout->interviewFields.empty());
  auto source = ConnectOdbc(test::SqliteConnectString(m_db), 30);
  auto recordset = source->Execute("SELECT * FROM Interview");
  ReadInterviewValues(*recordset, NewLayoutInterviewFieldMap(), batch);
  ASSERT_EQ(batch.layout->interviewFields.size(), 2u);
  EXPECT_EQ(batch.layout->interviewFields[1].second, "Completed");
  // Interviews without data rows get no node; one without an interview row gets NULLs.
  ASSERT_EQ(batch.interviews.size(), 2u);
  EXPECT_EQ(batch.interviews.at(1).interviewValues,
            (std::vector<CValue>{CValue::FromText("A1"), CValue::FromInt32(1)}));
  EXPECT_EQ(batch.interviews.at(3).interviewValues, (std::vector<CValue>{{}, {}}));
  // The data rows keep their layout.
  EXPECT_EQ(batch.Row(batch.interviews.at(1).questions[1].row).At(batch.layout->closedData),
            CValue::FromInt32(7));
}

TEST_F(NewReaderRows, BadRowsAreErrors) {
  {
    test::RunSql(m_db, "INSERT INTO Data VALUES (1, 10, 1, 'abc', NULL, 1, NULL, NULL, 3, '')");
    EXPECT_THROW(Read("SELECT * FROM Data"), CExportError);
  }
  {
    try {
      Read("SELECT InterviewID, QuestionID, ClosedData FROM Data");
      FAIL() << "no DataOrder";
    } catch (const CMissingSourceColumn& e) {
      EXPECT_EQ(e.Column(), "DataOrder");
    }
  }
  {
    NewLayoutBatch batch = Read("SELECT * FROM Data WHERE 0");
    EXPECT_EQ(m_rowsRead, 0);
    EXPECT_TRUE(batch.interviews.empty());
  }
}

// A table pass as the read thread runs it, on a plan alone: one batch per
// range, the filter applied, interview fields with the first table only.
TEST_F(NewReaderRows, TablePassesReadOneBatchPerPlannedRange) {
  test::RunSql(m_db,
               "INSERT INTO Interview VALUES (4, 'A4', 1, 'w');"
               "INSERT INTO Data VALUES (1, 10, 1, NULL, NULL, 5, NULL, NULL, 3, 'x'),"
               " (1, 11, 1, NULL, NULL, 6, NULL, NULL, 3, 'x'),"
               " (1, 11, 2, NULL, NULL, 7, NULL, NULL, 3, 'x'),"
               " (2, 10, 1, NULL, NULL, 8, NULL, NULL, 3, 'x');"
               "CREATE VIEW Orvix0007Data AS SELECT * FROM Data;"
               "CREATE VIEW Orvix0007Interview AS SELECT * FROM Interview;");
  CNewLayoutPlan plan;
  plan.surveyId = 7;
  plan.filterClause = "Completed <> 0";
  plan.tables = {{CPlannedQuestion{10, false, 0, 0}}, {CPlannedQuestion{11, true, 2, 2}}, {}};
  plan.ranges = {CInterviewRange{1, 1}, CInterviewRange{2, 4}};
  auto source = ConnectOdbc(test::SqliteConnectString(m_db), 30);
  std::vector<std::string> infos;
  const InfoReport info = [&infos](const std::string& m) { infos.push_back(m); };
  CCancellableSemaphore freeBatches(MaxBatchesInFlight, MaxBatchesInFlight);
  CCancellableSemaphore readyBatches(0, MaxBatchesInFlight + 1);
  std::vector<TableSlot<NewLayoutBatch>> slots(3);
  for (int32_t t = 0; t < 3; ++t) {
    ASSERT_TRUE(ReadNewLayoutTable(plan, t, *source, slots[static_cast<size_t>(t)], freeBatches,
                                   readyBatches, info));
  }
  // Interview 2 does not pass the filter: the second range gives an empty batch.
  ASSERT_EQ(slots[0].batches.size(), 2u);
  EXPECT_EQ(slots[0].rowsRead, 1);
  const NewLayoutBatch& first = slots[0].batches[0]->content;
  ASSERT_EQ(first.interviews.size(), 1u);
  EXPECT_EQ(first.interviews.at(1).interviewValues,
            (std::vector<CValue>{CValue::FromText("A1"), CValue::FromInt32(1)}));
  EXPECT_TRUE(slots[0].batches[1]->content.interviews.empty());
  // Only the planned DataOrder range, and no interview fields after the first table.
  ASSERT_EQ(slots[1].batches.size(), 2u);
  const NewLayoutBatch& second = slots[1].batches[0]->content;
  ASSERT_EQ(second.interviews.at(1).questions.size(), 1u);
  EXPECT_EQ(second.interviews.at(1).questions[0].dataOrder, 2);
  EXPECT_TRUE(second.interviews.at(1).interviewValues.empty());
  // A table without questions runs no query.
  EXPECT_TRUE(slots[2].batches.empty());
  EXPECT_EQ(infos.back(), "[Read Thread] Done reading Table number 3");
  EXPECT_EQ(infos[infos.size() - 2], "[Read Thread] Opening SQL Table...");

  // With a second connection reading every other batch: the same batches, in order.
  CRangeReadAhead ahead(plan, ConnectOdbc(test::SqliteConnectString(m_db), 30));
  std::vector<TableSlot<NewLayoutBatch>> aheadSlots(3);
  for (int32_t t = 0; t < 3; ++t) {
    ASSERT_TRUE(ReadNewLayoutTable(plan, t, *source, aheadSlots[static_cast<size_t>(t)],
                                   freeBatches, readyBatches, info, &ahead));
  }
  for (size_t t = 0; t < 3; ++t) {
    ASSERT_EQ(aheadSlots[t].batches.size(), slots[t].batches.size()) << t;
    EXPECT_EQ(aheadSlots[t].rowsRead, slots[t].rowsRead) << t;
    for (size_t b = 0; b < slots[t].batches.size(); ++b) {
      const NewLayoutBatch& mine = slots[t].batches[b]->content;
      const NewLayoutBatch& theirs = aheadSlots[t].batches[b]->content;
      EXPECT_EQ(theirs.cells, mine.cells) << t << " " << b;
      ASSERT_EQ(theirs.interviews.size(), mine.interviews.size()) << t << " " << b;
      for (const auto& [id, node] : mine.interviews) {
        EXPECT_EQ(theirs.interviews.at(id).interviewValues, node.interviewValues);
        EXPECT_EQ(theirs.interviews.at(id).questions.size(), node.questions.size());
      }
    }
  }
}

}  // namespace
}  // namespace zx
