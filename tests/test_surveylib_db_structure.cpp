#include <gtest/gtest.h>

#include <map>

#include "platform/error.hpp"
#include "platform/odbc/source.hpp"
#include "support/sqlite_file.hpp"
#include "support/sqlite_source_db.hpp"
#include "support/temp_dir.hpp"
#include "surveylib/db_structure.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {
namespace {

using test::QueryRows;
using test::QueryText;
using test::RunSql;

// name -> declared type, in table order, of a table of the file.
std::vector<std::pair<std::string, std::string>> Columns(const std::string& path,
                                                         const std::string& table) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& row :
       QueryRows(path, "SELECT name, type FROM pragma_table_info('" + table + "')"))
    out.emplace_back(row[0], row[1]);
  return out;
}

std::vector<std::string> ResponseTables(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& row : QueryRows(path,
                                   "SELECT name FROM sqlite_schema WHERE type = 'table' AND "
                                   "name LIKE 'ORV Reponse%' ORDER BY name"))
    names.push_back(row[0]);
  return names;
}

TEST(SurveylibDbStructure, RebuildsResponseTablesFromTheQuestionnaire) {
  test::CTempDir dir;
  const std::string path = dir.file("s.zuv");
  RunSql(path, std::string(test::kQuestionnaireDdl) + R"(;
INSERT INTO Questionnaire (CodeQuestion, Position, Indent, TypeElement, TypeQuestion, NbMaxReponse,
  NroTableReponse, AdditionalTables, DataFlag, DataCount) VALUES
 (1, 1, 1, 3, 0, 1, 0, '2', 0, 0),           -- text block, its tokens never used
 (11, 2, 1, 1, 1, 1, 1, '', 1, 0),           -- single choice
 (12, 3, 1, 1, 2, 3, 1, '', 1, 0),           -- multiple choice, 3 answers
 (13, 4, 1, 1, 3, 1, 2, '', 0, 4),           -- numeric, data by DataCount
 (14, 5, 1, 1, 4, 1, 2, '', 1, 0),           -- open
 (15, 6, 1, 1, 2, 4, 1, ' 1:1,2; 2: 3,4;x;40000:5,6', 1, 0), -- split over tables 1 and 2
 (16, 7, 1, 1, 1, 1, 1, '', 0, 0),           -- no data: no field
 (20, 8, 1, 2, 4, 3, 1, '', 1, 0),           -- loop
 (21, 9, 2, 1, 5, 1, 3, '', 1, 0),           -- date inside the loop
 (22, 10, 2, 2, 2, 2, 3, '', 1, 0),          -- nested loop over answers
 (23, 11, 3, 1, 3, 1, 4, '', 1, 0);          -- numeric in the nested loop
CREATE TABLE "ORV Reponse1" (Stale TEXT);
CREATE TABLE "ORV Reponse9" (Cle1 INTEGER);
CREATE TABLE "ORV ReponseX" (Keep INTEGER);
CREATE TABLE "Other" (Keep INTEGER);)");

  CQuestionnaire questionnaire;
  ASSERT_TRUE(questionnaire.Read(path, true, true, true, true, false, DATABASE_ZUV, 1036, true))
      << questionnaire.m_errorText;
  CDBStructureAdo structure = CDBStructureAdo::OnZuvFile(path);
  ASSERT_TRUE(structure.Open(false)) << structure.m_errorText;
  EXPECT_TRUE(structure.ReadDataStructure(questionnaire));
  EXPECT_TRUE(structure.DeleteResponseStructure(2));
  EXPECT_FALSE(structure.IsExistingTable("ORV Reponse9"));
  ASSERT_TRUE(structure.DeleteAndRecreateResponseStructure(questionnaire, true))
      << structure.m_errorText;
  EXPECT_TRUE(structure.IsExistingTable(CDBStructureAdo::GetResponseTableName(4)));
  structure.Close();

  EXPECT_EQ(ResponseTables(path),
            (std::vector<std::string>{"ORV Reponse1", "ORV Reponse2", "ORV Reponse3",
                                      "ORV Reponse4", "ORV ReponseX"}));
  EXPECT_EQ(QueryText(path, "SELECT count(*) FROM sqlite_schema WHERE name = 'Other'"), "1");

  const auto t1 = Columns(path, "ORV Reponse1");
  ASSERT_GT(t1.size(), 27u);
  EXPECT_EQ(t1[0], (std::pair<std::string, std::string>{"Cle1", "INTEGER"}));
  EXPECT_EQ(t1[1].first, "CodeEnqueteur");
  const std::map<std::string, std::string> m1(t1.begin(), t1.end());
  EXPECT_EQ(m1.at("DebutInterview"), "TEXT");
  EXPECT_EQ(m1.at("Latitude"), "REAL");
  EXPECT_EQ(m1.at("CallCount"), "INTEGER");
  EXPECT_EQ(m1.at("QuotaCategory"), "TEXT");
  const std::vector<std::pair<std::string, std::string>> questionFields1(t1.begin() + 27, t1.end());
  EXPECT_EQ(questionFields1,
            (std::vector<std::pair<std::string, std::string>>{{"11;0", "INTEGER"},
                                                              {"11;1", "INTEGER"},
                                                              {"12;0", "INTEGER"},
                                                              {"12;1", "INTEGER"},
                                                              {"12;2", "INTEGER"},
                                                              {"12;3", "INTEGER"},
                                                              {"15;0", "INTEGER"},
                                                              {"15;1", "INTEGER"},
                                                              {"15;2", "INTEGER"},
                                                              {"20;0", "INTEGER"},
                                                              {"20;1", "INTEGER"},
                                                              {"20;2", "INTEGER"},
                                                              {"20;3", "INTEGER"}}));
  EXPECT_EQ(Columns(path, "ORV Reponse2"),
            (std::vector<std::pair<std::string, std::string>>{{"Cle1", "INTEGER"},
                                                              {"13;0", "INTEGER"},
                                                              {"13;1", "REAL"},
                                                              {"14;0", "INTEGER"},
                                                              {"14;1", "TEXT"},
                                                              {"15;0", "INTEGER"},
                                                              {"15;3", "INTEGER"},
                                                              {"15;4", "INTEGER"}}));
  EXPECT_EQ(Columns(path, "ORV Reponse3"),
            (std::vector<std::pair<std::string, std::string>>{{"Cle1", "INTEGER"},
                                                              {"Cle2", "INTEGER"},
                                                              {"Ordre", "INTEGER"},
                                                              {"21;0", "INTEGER"},
                                                              {"21;1", "TEXT"},
                                                              {"22;0", "INTEGER"},
                                                              {"22;1", "INTEGER"},
                                                              {"22;2", "INTEGER"}}));
  EXPECT_EQ(Columns(path, "ORV Reponse4"),
            (std::vector<std::pair<std::string, std::string>>{{"Cle1", "INTEGER"},
                                                              {"Cle2", "INTEGER"},
                                                              {"Cle3", "INTEGER"},
                                                              {"Ordre", "INTEGER"},
                                                              {"23;0", "INTEGER"},
                                                              {"23;1", "REAL"}}));
  // Cle1 is required and the keys are unique.
  EXPECT_THROW(RunSql(path, "INSERT INTO \"ORV Reponse2\" (\"13;0\") VALUES (1)"),
               std::runtime_error);
  RunSql(path, "INSERT INTO \"ORV Reponse4\" (Cle1, Cle2, Cle3) VALUES (1, 2, 3)");
  RunSql(path, "INSERT INTO \"ORV Reponse4\" (Cle1, Cle2, Cle3) VALUES (1, 2, 4)");
  EXPECT_THROW(RunSql(path, "INSERT INTO \"ORV Reponse4\" (Cle1, Cle2, Cle3) VALUES (1, 2, 3)"),
               std::runtime_error);
}

TEST(SurveylibDbStructure, CreatesKeyTablesAndNamesTables) {
  test::CTempDir dir;
  const std::string path = dir.file("k.zuv");
  RunSql(path, test::kQuestionnaireDdl);
  {
    CDBStructureAdo structure = CDBStructureAdo::OnZuvFile(path);
    ASSERT_TRUE(structure.Open(true));
    const COrvixTableDef* def = structure.CreateOrvixTableDef("ORV Reponse7", 3, true);
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->m_name, "ORV Reponse7");
    EXPECT_NE(structure.CreateOrvixTableDef("Odd \"name\"", 1, false), nullptr);
    // The same table twice is an error, not a crash.
    EXPECT_EQ(structure.CreateOrvixTableDef("ORV Reponse7", 1, false), nullptr);
    EXPECT_NE(structure.m_errorText.find("ORV Reponse7"), std::string::npos);
  }
  EXPECT_EQ(
      Columns(path, "ORV Reponse7"),
      (std::vector<std::pair<std::string, std::string>>{
          {"Cle1", "INTEGER"}, {"Cle2", "INTEGER"}, {"Cle3", "INTEGER"}, {"Ordre", "INTEGER"}}));
  EXPECT_EQ(Columns(path, "Odd \"name\"").size(), 1u);

  EXPECT_EQ(CDBStructureAdo::GetResponseTableName(1), "ORV Reponse1");
  EXPECT_EQ(CDBStructureAdo::GetResponseTableName(12), "ORV Reponse12");
  EXPECT_EQ(CTblSemiOpenOdbc::GetTableName(-1, false), "ORV SemiOpen");
  EXPECT_EQ(CTblSemiOpenOdbc::GetTableName(-1, true), "ORV SemiOpen");
  EXPECT_EQ(CTblSemiOpenOdbc::GetTableName(7, false), "ORVSemiOpen7");
  EXPECT_EQ(CTblSemiOpenOdbc::GetTableName(7, true), "Orvix0007SemiOpen");
  EXPECT_EQ(CTblSemiOpenOdbc::GetTableName(123456, true), "Orvix123456SemiOpen");

  CDBStructureAdo missing = CDBStructureAdo::OnZuvFile(dir.file("absent.zuv"));
  EXPECT_FALSE(missing.Open(false));
  EXPECT_NE(missing.m_errorText.find("absent.zuv"), std::string::npos) << missing.m_errorText;
}

TEST(SurveylibDbStructure, ChecksTheSourceTablesOfTheSurvey) {
  test::CTempDir dir;
  const std::string zuv = dir.file("q.zuv");
  RunSql(zuv, std::string(test::kQuestionnaireDdl) + R"(;
INSERT INTO Questionnaire (CodeQuestion, Position, Indent, TypeElement, TypeQuestion, NbMaxReponse,
  NroTableReponse, AdditionalTables, DataFlag) VALUES
 (1, 1, 1, 1, 1, 1, 1, '', 1), (2, 2, 1, 1, 2, 4, 1, '1:1,2;2:3,4', 1))");
  CQuestionnaire questionnaire;
  ASSERT_TRUE(questionnaire.Read(zuv, true, true, true, true, false, DATABASE_ZUV, 1036, true));

  testing::CSqliteSourceDb source;
  source.Exec("CREATE TABLE ORVResponse7_1 (Cle1 INTEGER)");
  auto connection = ConnectOdbc(source.ConnectString(), 30);
  CDBStructureAdo structure = CDBStructureAdo::OnSourceDatabase(*connection);
  structure.m_surveyId = 7;
  ASSERT_TRUE(structure.Open(false)) << structure.m_errorText;
  EXPECT_TRUE(structure.IsExistingTable("ORVResponse7_1"));
  EXPECT_FALSE(structure.IsExistingTable("ORVResponse7_2"));
  EXPECT_FALSE(structure.ReadDataStructure(questionnaire));
  EXPECT_NE(questionnaire.m_errorText.find("ORVResponse7_2"), std::string::npos)
      << questionnaire.m_errorText;
  source.Exec("CREATE TABLE ORVResponse7_2 (Cle1 INTEGER)");
  EXPECT_TRUE(structure.ReadDataStructure(questionnaire)) << questionnaire.m_errorText;

  structure.m_surveyFlag = true;
  EXPECT_FALSE(structure.ReadDataStructure(questionnaire));
  EXPECT_NE(questionnaire.m_errorText.find("Orvix0007Data"), std::string::npos);
  source.Exec(
      "CREATE TABLE Orvix0007Data (InterviewID INTEGER); "
      "CREATE TABLE Orvix0007Interview (InterviewID INTEGER)");
  EXPECT_TRUE(structure.ReadDataStructure(questionnaire)) << questionnaire.m_errorText;
  // The rebuild works on ZUV files only.
  EXPECT_FALSE(structure.DeleteAndRecreateResponseStructure(questionnaire, true));
}

TEST(SurveylibDbStructure, GetFieldValueLongFallsBackToTheDefault) {
  testing::CSqliteSourceDb source;
  source.Exec(
      "CREATE TABLE t (a, b, c, d, e, f); INSERT INTO t VALUES "
      "(12, NULL, '34', 'abc', 2.5, 99999999999)");
  auto connection = ConnectOdbc(source.ConnectString(), 30);
  auto rs = connection->Execute("SELECT a, b, c, d, e, f FROM t");
  EXPECT_EQ(CDBStructureAdo::GetFieldValueLong(*rs, 0, -1), 12);
  EXPECT_EQ(CDBStructureAdo::GetFieldValueLong(*rs, 1, -1), -1);
  EXPECT_EQ(CDBStructureAdo::GetFieldValueLong(*rs, 2, -1), 34);
  EXPECT_EQ(CDBStructureAdo::GetFieldValueLong(*rs, 3, -1), -1);
  EXPECT_EQ(CDBStructureAdo::GetFieldValueLong(*rs, 4, -1), 2);  // rounds half to even
  EXPECT_EQ(CDBStructureAdo::GetFieldValueLong(*rs, 5, -1), -1);
  EXPECT_EQ(CDBStructureAdo::GetFieldValueLong(*rs, 6, -1), -1);
  rs->MoveNext();
  EXPECT_EQ(CDBStructureAdo::GetFieldValueLong(*rs, 0, -7), -7);
}

}  // namespace
}  // namespace zx
