#include <gtest/gtest.h>

#include "export/new_fill.hpp"
#include "platform/error.hpp"
#include "platform/zuv/engine.hpp"
#include "support/sqlite_file.hpp"
#include "support/sqlite_values.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

TEST(NewFill, OneStatementPerSingleChoiceField) {
  const std::vector<TableQuestion> questions = {
      {"1234", 1, CValue::FromInt32(3), false, "", ""},
      {"50", 2, CValue::FromInt32(4), false, "", ""},  // multiple choice: not filled
      {"60", 1, CValue::FromInt32(9), true, "4", "5"},
      {"70", 1, CValue::FromInt32(0), false, "", ""},
      {"80", 1, CValue::FromInt32(2), true, "3", "2"},
  };
  EXPECT_EQ(BuildFillStatements(2, questions),
            (std::vector<std::string>{
                "UPDATE [ORV Reponse2] SET  [1234;1] = IIF([1234;1] IS NULL, -2, [1234;1])",
                "UPDATE [ORV Reponse2] SET  [1234;2] = IIF([1234;2] IS NULL, -2, [1234;2])",
                "UPDATE [ORV Reponse2] SET  [1234;3] = IIF([1234;3] IS NULL, -2, [1234;3])",
                "UPDATE [ORV Reponse2] SET  [60;4] = IIF([60;4] IS NULL, -2, [60;4])",
                "UPDATE [ORV Reponse2] SET  [60;5] = IIF([60;5] IS NULL, -2, [60;5])"}));
  EXPECT_THROW(BuildFillStatements(1, {{"9", 1, CValue::FromText("many"), false, "", ""}}),
               CExportError);
  // Only indexes the table has fields for: a corrupt count stays harmless.
  const FieldIndexRanges existing = {{1234, {2, 7}}};
  EXPECT_EQ(BuildFillStatements(2,
                                {{"1234", 1, CValue::FromInt32(2000000000), false, "", ""},
                                 {"60", 1, CValue::FromInt32(9), true, "4", "5"}},
                                &existing),
            (std::vector<std::string>{
                "UPDATE [ORV Reponse2] SET  [1234;2] = IIF([1234;2] IS NULL, -2, [1234;2])",
                "UPDATE [ORV Reponse2] SET  [1234;3] = IIF([1234;3] IS NULL, -2, [1234;3])",
                "UPDATE [ORV Reponse2] SET  [1234;4] = IIF([1234;4] IS NULL, -2, [1234;4])",
                "UPDATE [ORV Reponse2] SET  [1234;5] = IIF([1234;5] IS NULL, -2, [1234;5])",
                "UPDATE [ORV Reponse2] SET  [1234;6] = IIF([1234;6] IS NULL, -2, [1234;6])",
                "UPDATE [ORV Reponse2] SET  [1234;7] = IIF([1234;7] IS NULL, -2, [1234;7])"}));
}

TEST(NewFill, EmptyFieldsOfSingleChoiceQuestionsBecomeMinusTwo) {
  test::CTempDir dir;
  const std::string path = dir.file("target.zuv");
  test::RunSql(
      path,
      "CREATE TABLE [ORV Reponse1] (Cle1 INTEGER NOT NULL, [1;0] INTEGER, [1;1] INTEGER,"
      " [1;2] INTEGER, [2;1] INTEGER);"
      "INSERT INTO [ORV Reponse1] VALUES (1, NULL, 4, NULL, NULL), (2, 9, NULL, 3, NULL);");
  std::vector<std::vector<TableQuestion>> tables = {
      {{"1", 1, CValue::FromInt32(3), false, "", ""},  // [1;3] is missing: skipped
       {"2", 4, CValue::FromInt32(1), false, "", ""}}};
  std::vector<std::string> infos;
  {
    CZuvEngine engine;
    auto database = engine.OpenDatabase(path);
    FillEmptyFields(*database, tables, [&](const std::string& m) { infos.push_back(m); });
  }
  EXPECT_EQ(infos, std::vector<std::string>{"Filling empty fields..."});
  auto L = [](int64_t v) { return CValue::FromInt64(v); };
  EXPECT_EQ(test::QueryValues(
                path, "SELECT [1;0], [1;1], [1;2], [2;1] FROM [ORV Reponse1] ORDER BY Cle1"),
            (std::vector<std::vector<CValue>>{{{}, L(4), L(-2), {}}, {L(9), L(-2), L(3), {}}}));
}

TEST(NewFill, FieldsWithoutDefaultAreLeftToTheWriter) {
  test::CTempDir dir;
  const std::string path = dir.file("target.zuv");
  test::RunSql(path,
               "CREATE TABLE [ORV Reponse1] (Cle1 INTEGER NOT NULL, [1;1] INTEGER,"
               " [1;2] INTEGER DEFAULT 5, [2;1] INTEGER);"
               "INSERT INTO [ORV Reponse1] VALUES (1, NULL, NULL, NULL);"
               "CREATE TABLE [ORV Reponse2] (Cle1 INTEGER NOT NULL, [9;1] INTEGER);"
               "INSERT INTO [ORV Reponse2] VALUES (1, NULL);");
  const std::vector<std::vector<TableQuestion>> tables = {
      {{"1", 1, CValue::FromInt32(3), false, "", ""},
       {"2", 4, CValue::FromInt32(1), false, "", ""}},
      {{"9", 1, CValue::FromText("many"), false, "", ""}}};
  std::vector<CTableFill> plans;
  {
    CZuvEngine engine;
    auto database = engine.OpenDatabase(path);
    plans.push_back(PlanTableFill(tables[0], database->Columns("ORV Reponse1")));
    plans.push_back(PlanTableFill(tables[1], database->Columns("ORV Reponse2")));
    EXPECT_TRUE(plans[0].planned);
    EXPECT_EQ(plans[0].onInsert, std::vector<std::string>{"1;1"});
    EXPECT_EQ(plans[0].afterwards, std::vector<std::string>{"1;2"});
    // Not plannable: the fill afterwards fails on it as it always has.
    EXPECT_FALSE(plans[1].planned);
    plans.pop_back();
    FillEmptyFields(*database, {tables[0]}, plans, [](const std::string&) {});
    EXPECT_THROW(FillEmptyFields(*database, tables, plans, [](const std::string&) {}),
                 CExportError);
  }
  EXPECT_EQ(test::QueryValues(path, "SELECT [1;1], [1;2], [2;1] FROM [ORV Reponse1]"),
            (std::vector<std::vector<CValue>>{{{}, CValue::FromInt64(-2), {}}}));
}

}  // namespace
}  // namespace zx
