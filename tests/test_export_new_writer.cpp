#include <gtest/gtest.h>

#include <algorithm>

#include "export/new_writer.hpp"
#include "platform/error.hpp"
#include "platform/zuv/engine.hpp"
#include "support/sqlite_file.hpp"
#include "support/sqlite_values.hpp"
#include "support/temp_dir.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {
namespace {

// 10 top level (table 1); 20 loop over answers (table 1) holding 21 (table 2);
// 30 numbered loop (table 1) holding 31 (table 3); 11 top level in table 2.
constexpr char kQuestionnaire[] =
    "CREATE TABLE Questionnaire (CodeQuestion INTEGER PRIMARY KEY, Position INTEGER NOT NULL "
    "UNIQUE, Indent INTEGER NOT NULL, TypeElement INTEGER NOT NULL, TypeQuestion INTEGER NOT "
    "NULL, NbMaxReponse INTEGER NOT NULL DEFAULT 1, NroTableReponse INTEGER NOT NULL DEFAULT 0, "
    "AdditionalTables TEXT NOT NULL DEFAULT '', DataFlag INTEGER NOT NULL DEFAULT 0, DataCount "
    "INTEGER NOT NULL DEFAULT 0, Libelle TEXT NOT NULL DEFAULT '');"
    "INSERT INTO Questionnaire VALUES (10,1,1,1,1,1,1,'',1,0,''), (20,2,1,2,2,3,1,'',1,0,''),"
    " (21,3,2,1,1,1,2,'',1,0,''), (30,4,1,2,4,3,1,'',1,0,''), (31,5,2,1,3,1,3,'',1,0,''),"
    " (11,6,1,1,4,1,2,'',1,0,'');";

struct CRowDef {
  int32_t interview;
  std::vector<int32_t> path;
  int32_t question;
  int32_t dataOrder;
  CValue closed, numeric, open, duration;
};

// The tree the read thread would build from these rows (in this order).
NewLayoutBatch MakeBatch(const std::vector<CRowDef>& rows, bool interviewFields) {
  auto layout = std::make_shared<SourceRowLayout>();
  layout->keptColumns = {0, 1, 2, 3, 4, 5};
  layout->loopIds = {0, 1};
  layout->closedData = 2;
  layout->numericData = 3;
  layout->openData = 4;
  layout->duration = 5;
  if (interviewFields) layout->interviewFields = {{9, "CodeEnqueteur"}};
  NewLayoutBatch batch;
  batch.layout = layout;
  batch.cells.Reset(6);
  for (const CRowDef& def : rows) {
    InterviewNode* node = &batch.interviews[def.interview];
    if (interviewFields && node->interviewValues.empty()) {
      node->interviewValues.push_back(CValue::FromText("AG" + std::to_string(def.interview)));
    }
    CValue loops[2];
    for (size_t level = 0; level < def.path.size(); ++level) {
      loops[level] = CValue::FromInt32(def.path[level]);
      node = &node->subLoops[def.path[level]];
    }
    const auto row = static_cast<uint32_t>(batch.cells.RowCount());
    CValue* cells = batch.cells.AppendRow();
    for (const CValue& value :
         {loops[0], loops[1], def.closed, def.numeric, def.open, def.duration}) {
      *cells++ = value;
    }
    node->questions.push_back(CQuestionEntry{def.question, def.dataOrder, row});
  }
  std::function<void(InterviewNode&)> sort = [&](InterviewNode& node) {
    std::sort(node.questions.begin(), node.questions.end(), [](auto& a, auto& b) {
      return std::tie(a.questionId, a.dataOrder) < std::tie(b.questionId, b.dataOrder);
    });
    for (auto& [value, child] : node.subLoops) sort(child);
  };
  for (auto& [id, node] : batch.interviews) sort(node);
  return batch;
}

CValue I(int64_t v) { return CValue::FromInt32(static_cast<int32_t>(v)); }
CValue L(int64_t v) { return CValue::FromInt64(v); }  // as read back from SQLite

class NewWriter : public ::testing::Test {
 protected:
  void Build(const std::string& tables) {
    test::RunSql(m_path, std::string(kQuestionnaire) + tables);
    ASSERT_TRUE(
        m_questionnaire.Read(m_path, true, true, true, true, false, DATABASE_ZUV, 1036, true))
        << m_questionnaire.m_errorText;
    m_questionnaire.PreparerSaisie();
    m_database = m_engine.OpenDatabase(m_path);
    m_writer = std::make_unique<CNewLayoutWriter>(
        m_questionnaire, [this](const std::string& m) { m_infos.push_back(m); },
        [this](const std::string& m) { m_errors.push_back(m); });
  }
  bool Write(int table, std::vector<CRowDef> rows) {
    auto recordset = m_database->OpenRecordset("ORV Reponse" + std::to_string(table));
    m_writer->BeginTable(*recordset, table);
    NewLayoutBatch batch = MakeBatch(rows, table == 1);
    const bool written = m_writer->WriteBatch(batch);
    m_writer->EndTable();
    recordset->Close();
    return written;
  }
  std::vector<std::vector<CValue>> Query(const std::string& sql) {
    m_database->Close();
    m_database.reset();
    auto rows = test::QueryValues(m_path, sql);
    m_database = m_engine.OpenDatabase(m_path);
    return rows;
  }

  test::CTempDir m_dir;
  std::string m_path = m_dir.file("target.zuv");
  CQuestionnaire m_questionnaire;
  CZuvEngine m_engine;
  std::unique_ptr<CZuvDatabase> m_database;
  std::unique_ptr<CNewLayoutWriter> m_writer;
  std::vector<std::string> m_infos, m_errors;
};

TEST_F(NewWriter, OneRowPerLevelWithKeysOrderAndValues) {
  Build(
      "CREATE TABLE [ORV Reponse1] (Cle1 INTEGER NOT NULL, CodeEnqueteur TEXT, [10;0] INTEGER,"
      " [10;1] INTEGER, [20;0] INTEGER, [20;1] INTEGER, [20;2] INTEGER, [20;3] INTEGER,"
      " [30;0] INTEGER, [30;1] INTEGER, [30;2] INTEGER, [30;3] INTEGER);"
      "CREATE TABLE [ORV Reponse2] (Cle1 INTEGER NOT NULL, Cle2 INTEGER, Ordre INTEGER,"
      " [21;0] INTEGER, [21;1] INTEGER, [11;0] INTEGER, [11;1] TEXT);"
      "CREATE TABLE [ORV Reponse3] (Cle1 INTEGER NOT NULL, Cle2 INTEGER, Ordre INTEGER,"
      " [31;0] INTEGER, [31;1] REAL);");
  // Interviews 1 and 2 loop over the same answers in different orders.
  ASSERT_TRUE(Write(1, {{1, {}, 10, 1, {}, I(12), {}, I(5)},
                        {1, {}, 20, 1, I(7), {}, {}, {}},
                        {1, {}, 20, 2, I(4), {}, {}, {}},
                        {1, {}, 30, 1, I(1), {}, {}, {}},
                        {1, {}, 30, 2, I(2), {}, {}, {}},
                        {2, {}, 20, 1, I(4), {}, {}, {}},
                        {2, {}, 20, 2, I(7), {}, {}, {}},
                        {2, {}, 10, 1, {}, {}, {}, I(6)}}));
  EXPECT_EQ(Query("SELECT Cle1, CodeEnqueteur, [10;0], [10;1], [20;0], [20;1], [20;2], [30;1], "
                  "[30;2] FROM [ORV Reponse1] ORDER BY Cle1"),
            (std::vector<std::vector<CValue>>{
                {L(1), CValue::FromText("AG1"), L(5), L(12), {}, L(7), L(4), {}, {}},
                {L(2), CValue::FromText("AG2"), L(6), {}, {}, L(4), L(7), {}, {}}}));

  // Table 2: interview 1 has its own answer and loop iterations; interview 2
  // iterates over a value its loop question never stored.
  ASSERT_TRUE(Write(2, {{1, {7}, 21, 1, I(1), {}, {}, I(3)},
                        {1, {}, 11, 1, {}, {}, CValue::FromText("open"), I(8)},
                        {1, {4}, 21, 1, I(2), {}, {}, I(4)},
                        {2, {7}, 21, 1, I(3), {}, {}, I(5)},
                        {2, {4}, 21, 1, I(1), {}, {}, I(5)},
                        {2, {9}, 21, 1, I(2), {}, {}, I(5)},
                        {2, {9}, 22, 1, I(2), {}, {}, I(5)}}));
  EXPECT_EQ(
      Query("SELECT Cle1, Cle2, Ordre, [21;0], [21;1], [11;0], [11;1] FROM [ORV Reponse2] "
            "ORDER BY Cle1, Cle2"),
      (std::vector<std::vector<CValue>>{{L(1), {}, {}, {}, {}, L(8), CValue::FromText("open")},
                                        {L(1), L(4), L(2), L(4), L(2), {}, {}},
                                        {L(1), L(7), L(1), L(3), L(1), {}, {}},
                                        {L(2), L(4), L(1), L(5), L(1), {}, {}},
                                        {L(2), L(7), L(2), L(5), L(3), {}, {}},
                                        {L(2), L(9), {}, L(5), L(2), {}, {}}}));
  ASSERT_EQ(m_infos.size(), 1u);
  EXPECT_NE(m_infos[0].find("iteration 9 of loop 20 in interview 2"), std::string::npos);

  // Numbered loop: Ordre is the loop value.
  ASSERT_TRUE(Write(3, {{1, {2}, 31, 1, {}, CValue::FromDouble(1.5), {}, I(1)}}));
  EXPECT_EQ(Query("SELECT Cle1, Cle2, Ordre, [31;1] FROM [ORV Reponse3]"),
            (std::vector<std::vector<CValue>>{{L(1), L(2), L(2), CValue::FromDouble(1.5)}}));
  EXPECT_TRUE(m_errors.empty());
}

TEST_F(NewWriter, EmptyFieldsAndLoopOrdersForLaterTables) {
  Build(
      "CREATE TABLE [ORV Reponse1] (Cle1 INTEGER NOT NULL, CodeEnqueteur TEXT, [10;0] INTEGER,"
      " [10;1] INTEGER, [20;1] INTEGER, [20;2] INTEGER, [30;1] INTEGER);"
      "CREATE TABLE [ORV Reponse2] (Cle1 INTEGER NOT NULL, Cle2 INTEGER, Ordre INTEGER,"
      " [21;0] INTEGER, [21;1] INTEGER);");
  // Loop 20 holds 21 of table 2: its orders outlive table 1; those of the
  // numbered loop 30 need not.
  m_writer->SetTableQuestions({{10, 20, 30}, {21}});
  {
    auto recordset = m_database->OpenRecordset("ORV Reponse1");
    // [10;9] is no field of the table: ignored.
    m_writer->BeginTable(*recordset, 1, {"10;0", "10;1", "30;1", "10;9"});
    NewLayoutBatch batch = MakeBatch({{1, {}, 10, 1, {}, {}, {}, {}},
                                      {1, {}, 20, 1, I(7), {}, {}, {}},
                                      {1, {}, 20, 2, I(4), {}, {}, {}},
                                      {2, {}, 10, 1, I(0), {}, {}, I(3)},
                                      {2, {}, 30, 1, I(1), {}, {}, {}}},
                                     true);
    ASSERT_TRUE(m_writer->WriteBatch(batch));
    m_writer->EndTable();
  }
  ASSERT_TRUE(Write(2, {{1, {4}, 21, 1, I(2), {}, {}, I(4)}, {1, {7}, 21, 1, I(1), {}, {}, {}}}));
  // A field set to NULL is empty too; written values, 0 included, stay.
  EXPECT_EQ(Query("SELECT Cle1, [10;0], [10;1], [20;1], [30;1] FROM [ORV Reponse1] ORDER BY Cle1"),
            (std::vector<std::vector<CValue>>{{L(1), L(-2), L(-2), L(7), L(-2)},
                                              {L(2), L(3), L(0), {}, L(-2)}}));
  EXPECT_EQ(Query("SELECT Cle2, Ordre, [21;1] FROM [ORV Reponse2] ORDER BY Cle2"),
            (std::vector<std::vector<CValue>>{{L(4), L(2), L(2)}, {L(7), L(1), L(1)}}));
  EXPECT_TRUE(m_infos.empty());
  EXPECT_TRUE(m_errors.empty());
}

TEST_F(NewWriter, MissingTargetFieldsLoseOnlyWhatTheyHold) {
  Build(
      "CREATE TABLE [ORV Reponse1] (Cle1 INTEGER NOT NULL, [10;0] INTEGER, [10;1] INTEGER);"
      "CREATE TABLE [ORV Reponse2] (Cle1 INTEGER NOT NULL, [21;1] INTEGER, [11;0] INTEGER,"
      " [11;1] TEXT);");
  {
    // No duration field and no Cle2: the loop rows go, the rest stays.
    ASSERT_TRUE(Write(2, {{1, {7}, 21, 1, I(1), {}, {}, I(3)},
                          {1, {}, 21, 1, I(5), {}, {}, I(3)},
                          {1, {}, 11, 1, {}, {}, CValue::FromText("x"), I(8)},
                          {1, {}, 11, 2, {}, {}, CValue::FromText("no field"), I(8)}}));
    EXPECT_EQ(Query("SELECT Cle1, [21;1], [11;0], [11;1] FROM [ORV Reponse2]"),
              (std::vector<std::vector<CValue>>{{L(1), L(5), L(8), CValue::FromText("x")}}));
    EXPECT_TRUE(m_errors.empty());
  }
  {
    // Table 1 without CodeEnqueteur: a write error, before any response column.
    EXPECT_FALSE(Write(1, {{4, {}, 10, 1, I(1), {}, {}, I(2)}}));
    ASSERT_EQ(m_errors.size(), 4u);
    EXPECT_EQ(m_errors[0], "Error while trying to write data in the target Zuv file");
    EXPECT_EQ(m_errors[1].rfind("Error at CExporter::ExportFromSqlNew\n", 0), 0u);
    EXPECT_EQ(m_errors[1].back(), '\n');
    EXPECT_EQ(m_errors[2], "Last column exported: \n");
    EXPECT_EQ(m_errors[3], "Question refernce used for loop fields: 10;1\n");
    EXPECT_TRUE(Query("SELECT * FROM [ORV Reponse1]").empty());
  }
  {
    // Running out of resources on a row that already lost a column is still a
    // write error, never a row dropped without a word.
    m_errors.clear();
    SetZuvFaultHook([](std::string_view operation, std::string_view table) -> uint32_t {
      return operation == "Update" && table == "ORV Reponse2" ? codes::kResourcesExceeded : 0;
    });
    const bool written = Write(2, {{2, {}, 11, 1, {}, {}, CValue::FromText("y"), I(8)},
                                   {2, {}, 11, 2, {}, {}, CValue::FromText("no field"), I(8)}});
    SetZuvFaultHook(nullptr);
    EXPECT_FALSE(written);
    ASSERT_EQ(m_errors.size(), 4u);
    EXPECT_EQ(m_errors[0], "Error while trying to write data in the target Zuv file");
    EXPECT_EQ(m_errors[2], "Last column exported: 11;2\n");
  }
}

TEST_F(NewWriter, MissingSourceColumnStopsTheExport) {
  Build(
      "CREATE TABLE [ORV Reponse1] (Cle1 INTEGER NOT NULL, CodeEnqueteur TEXT,"
      " [10;0] INTEGER, [10;1] INTEGER);");
  auto recordset = m_database->OpenRecordset("ORV Reponse1");
  m_writer->BeginTable(*recordset, 1);
  NewLayoutBatch batch = MakeBatch({{1, {}, 10, 1, I(1), {}, {}, I(2)}}, true);
  std::const_pointer_cast<SourceRowLayout>(batch.layout)->duration = -1;
  try {
    m_writer->WriteBatch(batch);
    FAIL() << "no Duration column";
  } catch (const CMissingSourceColumn& e) {
    EXPECT_EQ(e.Column(), "Duration");
  }
}

}  // namespace
}  // namespace zx
