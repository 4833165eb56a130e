#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/sqlite_file.hpp"
#include "support/temp_dir.hpp"
#include "surveylib/additional_tables.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {
namespace {

using test::RunSql;
namespace errors = questionnaire_errors;

bool ReadAsExport(CQuestionnaire& q, const std::string& path) {
  return q.Read(path, true, true, true, true, false, DATABASE_ZUV, 1036, true);
}

// Rows given out of Position order: the model must sort them.
const char* const kNestedLoops = R"(
INSERT INTO Questionnaire (CodeQuestion, Position, Indent, TypeElement, TypeQuestion, NbMaxReponse,
  NroTableReponse, AdditionalTables, DataFlag, DataCount, Libelle) VALUES
 (50, 5, 3, 1, 1, 1, 3, '', 1, 0, 'inner question'),
 (10, 1, 1, 1, 2, 4, 1, '1:1,2;2:3,4', 1, 0, 'multiple'),
 (20, 2, 1, 2, 4, 3, 1, '', 1, 0, 'outer loop'),
 (30, 3, 2, 3, 0, 1, 0, '', 0, 0, 'text in the outer loop'),
 (40, 4, 2, 2, 4, 2, 2, '', 0, 7, 'inner loop'),
 (60, 6, 2, 1, 3, 1, 2, '', 1, 0, 'after the inner loop'),
 (70, 7, 1, 1, 4, 1, 1, '', 0, 0, 'top level again');)";

TEST(SurveylibQuestionnaire, LoadsByPositionWithLoopParents) {
  test::CTempDir dir;
  const std::string path = dir.file("q.zuv");
  RunSql(path, std::string(test::kQuestionnaireDdl) + ";" + kNestedLoops);

  CQuestionnaire q;
  ASSERT_TRUE(ReadAsExport(q, path)) << q.m_errorText;
  EXPECT_EQ(q.m_errorCode, 0);
  q.PreparerSaisie();  // again, as the export does: nothing changes
  ASSERT_EQ(q.GetNbreQuestion(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(q.GetQuestion(i).m_id, (i + 1) * 10);

  const CQuestion& multiple = q.GetQuestion(0);
  EXPECT_EQ(multiple.m_nbMaxReponse, 4);
  EXPECT_EQ(multiple.m_additionalTables, "1:1,2;2:3,4");
  EXPECT_EQ(multiple.m_libelle, "multiple");
  EXPECT_TRUE(q.GetQuestion(3).CarriesData());  // DataCount alone
  EXPECT_FALSE(q.GetQuestion(6).CarriesData());

  // Parents: the nearest earlier element with a smaller indent, text blocks excluded.
  EXPECT_EQ(q.GetParentQuestion(0), -1);
  EXPECT_EQ(q.GetParentQuestion(2), 1);
  EXPECT_EQ(q.GetParentQuestion(3), 1);
  EXPECT_EQ(q.GetParentQuestion(4), 3);
  EXPECT_EQ(q.GetParentQuestion(5), 1);
  EXPECT_EQ(q.GetParentQuestion(6), -1);
  EXPECT_EQ(q.GetParentQuestion(99), -1);
  EXPECT_EQ(q.GetLoopDepth(4), 2);
  EXPECT_EQ(q.GetLoopDepth(3), 1);
  EXPECT_EQ(q.GetLoopDepth(1), 0);

  {
    const CQuestion* found = nullptr;
    ASSERT_TRUE(q.FindQuestionById(50, found));
    EXPECT_EQ(found->m_position, 5);
    EXPECT_EQ(found->GetIndent(), 3);
    int index = -1;
    ASSERT_TRUE(q.FindQuestionById(40, index));
    EXPECT_EQ(index, 3);
    EXPECT_EQ(q.GetAdrQuestion(index)->GetTypeElement(), 2);
    EXPECT_FALSE(q.FindQuestionById(45, index));
    EXPECT_FALSE(q.FindQuestionById(45, found));
  }
  EXPECT_EQ(q.GetAdrQuestion(7), nullptr);
  EXPECT_THROW(q.GetQuestion(-1), std::out_of_range);

  {
    // Flags off: neither response layout, texts nor data flags are read.
    CQuestionnaire bare;
    ASSERT_TRUE(bare.Read(path, true, false, false, true, false, DATABASE_ZUV, 1036, false));
    EXPECT_EQ(bare.GetQuestion(0).m_additionalTables, "");
    EXPECT_EQ(bare.GetQuestion(0).m_libelle, "");
    EXPECT_FALSE(bare.GetQuestion(0).CarriesData());
    EXPECT_EQ(bare.GetLanguageId(), 1036);
  }
}

TEST(SurveylibQuestionnaire, BadFilesFailWithTheirCode) {
  test::CTempDir dir;
  auto expectFailure = [](const std::string& path, int16_t code, const std::string& mention) {
    CQuestionnaire q;
    EXPECT_FALSE(ReadAsExport(q, path));
    EXPECT_EQ(q.m_errorCode, code) << q.m_errorText;
    EXPECT_NE(q.m_errorText.find(mention), std::string::npos) << q.m_errorText;
    EXPECT_EQ(q.GetNbreQuestion(), 0);
  };
  const std::string ddl = test::kQuestionnaireDdl;
  {
    expectFailure(dir.file("absent.zuv"), errors::kFileMissing, "absent.zuv");
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.zuv")));
  }
  {
    std::ofstream(dir.file("text.zuv")) << "this is not a database, just some text\n";
    expectFailure(dir.file("text.zuv"), errors::kNotAZuvFile, "text.zuv");
  }
  {
    RunSql(dir.file("other.zuv"), "CREATE TABLE Something (a INTEGER)");
    expectFailure(dir.file("other.zuv"), errors::kNoQuestionnaireTable, "[Questionnaire]");
  }
  {
    RunSql(dir.file("nocol.zuv"),
           "CREATE TABLE Questionnaire (CodeQuestion INTEGER, Position INTEGER, Indent INTEGER, "
           "TypeElement INTEGER, TypeQuestion INTEGER, NbMaxReponse INTEGER, "
           "AdditionalTables TEXT, DataFlag INTEGER, DataCount INTEGER, Libelle TEXT)");
    expectFailure(dir.file("nocol.zuv"), errors::kMissingColumn, "NroTableReponse");
  }
  {
    const std::string loose =
        "CREATE TABLE Questionnaire (CodeQuestion INTEGER, Position INTEGER, Indent INTEGER, "
        "TypeElement INTEGER, TypeQuestion INTEGER, NbMaxReponse INTEGER, NroTableReponse "
        "INTEGER, AdditionalTables TEXT, DataFlag INTEGER, DataCount INTEGER, Libelle TEXT);";
    RunSql(dir.file("dup_pos.zuv"), loose +
                                        "INSERT INTO Questionnaire VALUES "
                                        "(1,1,1,1,1,1,1,'',1,0,''),(2,1,1,1,1,1,1,'',1,0,'')");
    expectFailure(dir.file("dup_pos.zuv"), errors::kDuplicate, "position 1");
    RunSql(dir.file("dup_id.zuv"), loose +
                                       "INSERT INTO Questionnaire VALUES "
                                       "(5,1,1,1,1,1,1,'',1,0,''),(5,2,1,1,1,1,1,'',1,0,'')");
    expectFailure(dir.file("dup_id.zuv"), errors::kDuplicate, "CodeQuestion 5");
    RunSql(dir.file("null.zuv"), loose +
                                     "INSERT INTO Questionnaire VALUES "
                                     "(5,1,NULL,1,1,1,1,'',1,0,'')");
    expectFailure(dir.file("null.zuv"), errors::kBadValue, "Indent");
    RunSql(dir.file("type.zuv"), loose +
                                     "INSERT INTO Questionnaire VALUES "
                                     "(5,1,1,'loop',1,1,1,'',1,0,'')");
    expectFailure(dir.file("type.zuv"), errors::kBadValue, "TypeElement");
  }
  {
    RunSql(dir.file("good.zuv"), ddl);
    CQuestionnaire q;
    EXPECT_FALSE(q.Read(dir.file("good.zuv"), true, true, true, true, false,
                        static_cast<DataBaseType>(3), 1036, true));
    EXPECT_EQ(q.m_errorCode, errors::kUnsupportedType);
  }
}

TEST(SurveylibQuestionnaire, AdditionalTablesAreReadLoosely) {
  {
    // One token each: numbers by the leading-digit rule, nothing refused.
    struct Case {
      const char* text;
      int32_t table;
      const char* first;
      const char* last;
      const char* fault;
    };
    const char* const kNoTable = "names no response table";
    const Case cases[] = {
        {"2:5,9", 2, "5", "9", ""},
        {"3:7", 3, "", "7", ""},
        {" 2:1,2", 2, "1", "2", ""},
        {"\t+4 :1, 2", 4, "1", " 2", ""},
        {"2:1,2x", 2, "1", "2x", ""},
        {"2:1,2,3", 2, "1", "2,3", ""},
        {"2:3:4,5", 2, "3:4", "5", ""},
        {"2:a,b", 2, "a", "b", ""},
        {"2:5,3", 2, "5", "3", "has an empty DataOrder range"},
        {"2", 0, "", "", kNoTable},
        {"x", 0, "", "", kNoTable},
        {"x:1,2", 0, "1", "2", kNoTable},
        {"0:1,2", 0, "1", "2", kNoTable},
        {"-2:1,2", -2, "1", "2", kNoTable},
        {"40000:1,2", 40000, "1", "2", kNoTable},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.text);
      const auto tokens = ReadAdditionalTables(c.text);
      ASSERT_EQ(tokens.size(), 1u);
      EXPECT_EQ(tokens[0].text, c.text);
      EXPECT_EQ(tokens[0].tableNumber, c.table);
      EXPECT_EQ(tokens[0].firstDataOrder, c.first);
      EXPECT_EQ(tokens[0].lastDataOrder, c.last);
      EXPECT_EQ(tokens[0].Fault(), c.fault);
    }
    const auto tokens = ReadAdditionalTables("2:5,9;; 3:7;x;12:1,50;");
    std::vector<std::string> texts;
    for (const auto& token : tokens) texts.push_back(token.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"2:5,9", " 3:7", "x", "12:1,50"}));
    EXPECT_TRUE(ReadAdditionalTables(";;").empty());
  }
  // Read takes every text, with a warning when no token names a table; the
  // highest table counts only the tokens that name one, of the questions that
  // carry data.
  test::CTempDir dir;
  struct FileCase {
    const char* text;
    int32_t highest;
    bool stored;
  };
  const FileCase files[] = {
      {"2:1", 2, true},           {"2", 1, false},         {"x:1,2", 1, false},
      {"0:1,2", 1, false},        {"2:5,3", 2, true},      {"2:0,3", 2, true},
      {"2:1,2;3", 2, true},       {"2:a,b", 2, true},      {" 2:1,2", 2, true},
      {"2:1,2x", 2, true},        {"40000:1,2", 1, false}, {"-2:1,2", 1, false},
      {"2:1,5; 3:6,10", 3, true}, {"\t4 :1,2", 4, true},   {"2:1,5;;3:6,10;", 3, true},
  };
  int n = 0;
  for (const FileCase& c : files) {
    SCOPED_TRACE(c.text);
    const std::string path = dir.file("loose" + std::to_string(n++) + ".zuv");
    RunSql(path, std::string(test::kQuestionnaireDdl) +
                     "; INSERT INTO Questionnaire (CodeQuestion, Position, Indent, TypeElement, "
                     "TypeQuestion, NbMaxReponse, NroTableReponse, AdditionalTables, DataFlag) "
                     "VALUES (77, 1, 1, 1, 2, 10, 1, '" +
                     std::string(c.text) +
                     "', 1), (78, 2, 1, 3, 0, 1, 0, '2', 0), (79, 3, 1, 1, 2, 5, 9, '9:1,5', 0)");
    CQuestionnaire q;
    EXPECT_EQ(ReadAsExport(q, path), c.stored) << q.m_errorText;
    EXPECT_EQ(q.m_errorCode, c.stored ? errors::kNone : errors::kDataWithoutTable);
    ASSERT_EQ(q.GetNbreQuestion(), 3);
    EXPECT_EQ(q.GetQuestion(0).m_additionalTables, c.text);
    EXPECT_EQ(q.GetQuestion(1).m_additionalTables, "2");
    EXPECT_EQ(HighestResponseTable(q), c.highest);
  }
}

TEST(SurveylibQuestionnaire, WarningsLeaveAUsableModel) {
  test::CTempDir dir;
  const std::string path = dir.file("warn.zuv");
  RunSql(path, std::string(test::kQuestionnaireDdl) + R"(;
INSERT INTO Questionnaire (CodeQuestion, Position, Indent, TypeElement, TypeQuestion, NroTableReponse, DataFlag)
VALUES (1, 1, 1, 1, 1, 0, 1),   -- data but no table
       (2, 2, 1, 1, 1, 1, 1),
       (3, 3, 3, 1, 1, 1, 1),   -- two levels deeper than question 2, not inside a loop
       (4, 4, 1, 1, 1, 1, 1);
UPDATE Questionnaire SET AdditionalTables = 'x; 0:1,2' WHERE CodeQuestion = 4;  -- no table)");
  CQuestionnaire q;
  EXPECT_FALSE(ReadAsExport(q, path));
  EXPECT_EQ(q.m_errorCode, errors::kDataWithoutTable);
  EXPECT_GT(q.m_errorCode, errors::kLastFailure);
  EXPECT_NE(q.m_errorText.find("Question 1 "), std::string::npos) << q.m_errorText;
  EXPECT_NE(q.m_errorText.find("Question 3 "), std::string::npos) << q.m_errorText;
  EXPECT_NE(q.m_errorText.find("Question 4 "), std::string::npos) << q.m_errorText;
  EXPECT_EQ(q.GetNbreQuestion(), 4);
  int index = -1;
  EXPECT_TRUE(q.FindQuestionById(3, index));

  CQuestionnaire unchecked;
  EXPECT_TRUE(unchecked.Read(path, true, true, true, false, false, DATABASE_ZUV, 1036, true));
  EXPECT_EQ(unchecked.m_errorCode, 0);
}

TEST(SurveylibQuestionnaire, VerifyDataEntryStructuresWantsTheSemiOpenTable) {
  test::CTempDir dir;
  const std::string path = dir.file("v.zuv");
  RunSql(path, test::kQuestionnaireDdl);
  CQuestionnaire q;
  EXPECT_FALSE(q.VerifyDataEntryStructures(path, DATABASE_ZUV));
  EXPECT_EQ(q.m_errorCode, errors::kNoSemiOpenTable);
  RunSql(path,
         "CREATE TABLE \"ORV SemiOpen\" (CodeReponseSO INTEGER PRIMARY KEY, CodeQuestion "
         "INTEGER NOT NULL, LibelleSO TEXT, CodeRegroupement INTEGER, Ordre INTEGER)");
  EXPECT_FALSE(q.VerifyDataEntryStructures(path, DATABASE_ZUV));
  EXPECT_NE(q.m_errorText.find("NbCitations"), std::string::npos) << q.m_errorText;
  RunSql(path,
         "DROP TABLE \"ORV SemiOpen\"; CREATE TABLE \"ORV SemiOpen\" (CodeReponseSO INTEGER "
         "PRIMARY KEY, CodeQuestion INTEGER NOT NULL, LibelleSO TEXT, CodeRegroupement "
         "INTEGER, Ordre INTEGER, NbCitations INTEGER, DateCreation TEXT, Auteur TEXT)");
  EXPECT_TRUE(q.VerifyDataEntryStructures(path, DATABASE_ZUV)) << q.m_errorText;
}

}  // namespace
}  // namespace zx
