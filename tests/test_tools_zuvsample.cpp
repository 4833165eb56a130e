#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "support/process.hpp"
#include "support/sqlite_file.hpp"
#include "support/temp_dir.hpp"
#include "surveylib/db_structure.hpp"
#include "surveylib/interview_fields.hpp"
#include "surveylib/questionnaire.hpp"

namespace zx {
namespace {

using test::QueryRows;
using test::QueryText;
using test::RunSql;

struct CRun {
  int exitCode;
  std::string output;
};

CRun RunSample(const test::CTempDir& /*dir*/, const std::vector<std::string>& args) {
  const test::CProcessResult run = test::RunProcess(ZUVSAMPLE_BIN, args);
  return {run.exitCode, run.out + run.err};
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> TableNames(const std::string& db, const std::string& glob) {
  std::vector<std::string> names;
  for (const auto& row : QueryRows(db,
                                   "SELECT name FROM sqlite_schema WHERE type = 'table' AND "
                                   "name GLOB '" +
                                       glob + "' ORDER BY name"))
    names.push_back(row[0]);
  return names;
}

std::vector<std::pair<std::string, std::string>> Columns(const std::string& db,
                                                         const std::string& table) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& row : QueryRows(db, "SELECT name, type FROM pragma_table_info('" + table + "')"))
    out.emplace_back(row[0], row[1]);
  return out;
}

TEST(ToolsZuvsample, BothLayoutsHoldTheSameAnswers) {
  test::CTempDir dir;
  const CRun run =
      RunSample(dir, {"--out-dir", dir.path(), "--survey-id", "42", "--interviews", "40",
                      "--questions", "26", "--loops", "2", "--nested-loops", "1", "--tables", "3",
                      "--null-share", "0.2", "--sparse-ids", "--split-share", "1"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("40 interviews"), std::string::npos) << run.output;
  const std::string db = dir.file("source.db");

  // Unpivot every legacy response column into (interview, loop ids, question, order, value).
  RunSql(db, "CREATE TABLE LegacyLong (i, l1, l2, q, d, v)");
  const auto legacyTables = TableNames(db, "ORVResponse42_*");
  ASSERT_GE(legacyTables.size(), 6u);  // 3 top-level, 2 one-level loops, 2 nested levels
  for (const std::string& table : legacyTables) {
    const auto columns = Columns(db, table);
    std::set<std::string> names;
    for (const auto& c : columns) names.insert(c.first);
    const std::string l1 = names.count("Cle2") ? "Cle2" : "NULL";
    const std::string l2 = names.count("Cle3") ? "Cle3" : "NULL";
    for (const auto& [name, type] : columns) {
      if (name[0] != 'Q' || name.find('_') == std::string::npos) continue;  // not Quotas
      const std::string q = name.substr(1, name.find('_') - 1), d = name.substr(name.find('_') + 1);
      RunSql(db, "INSERT INTO LegacyLong SELECT Cle1, " + l1 + ", " + l2 + ", " + q + ", " + d +
                     ", \"" + name + "\" FROM \"" + table + "\" WHERE \"" + name +
                     "\" IS NOT NULL");
    }
  }
  RunSql(db, R"(CREATE TABLE NewLong AS
    SELECT InterviewID AS i, LoopID1 AS l1, LoopID2 AS l2, QuestionID AS q, DataOrder AS d,
           COALESCE(ClosedData, NumericData, OpenData) AS v
      FROM Orvix0042Data WHERE COALESCE(ClosedData, NumericData, OpenData) IS NOT NULL
    UNION SELECT InterviewID, LoopID1, LoopID2, QuestionID, 0, Duration
      FROM Orvix0042Data WHERE Duration IS NOT NULL)");
  EXPECT_EQ(
      QueryText(db, "SELECT count(*) FROM (SELECT * FROM LegacyLong EXCEPT SELECT * FROM NewLong)"),
      "0");
  EXPECT_EQ(
      QueryText(db, "SELECT count(*) FROM (SELECT * FROM NewLong EXCEPT SELECT * FROM LegacyLong)"),
      "0");
  // Each value sits in one table; only a split question's duration repeats.
  EXPECT_EQ(QueryText(db, "SELECT count(*) FROM LegacyLong WHERE d > 0"),
            QueryText(db, "SELECT count(*) FROM (SELECT DISTINCT * FROM LegacyLong WHERE d > 0)"));
  EXPECT_GT(std::stoi(QueryText(db, "SELECT count(*) FROM NewLong WHERE l2 IS NOT NULL")), 0);
  EXPECT_GT(std::stoi(QueryText(db,
                                "SELECT count(*) FROM Orvix0042Data WHERE ClosedData IS NULL "
                                "AND NumericData IS NULL AND OpenData IS NULL")),
            0);
  EXPECT_GE(std::stoi(QueryText(db, "SELECT min(InterviewID) FROM Orvix0042Interview")), 100000);

  // Loop-defining rows hold the loop values the looped rows carry.
  EXPECT_EQ(QueryText(db, R"(SELECT count(*) FROM Orvix0042Data AS inner
    WHERE inner.LoopID1 IS NOT NULL AND inner.LoopID2 IS NULL AND NOT EXISTS (
      SELECT 1 FROM Orvix0042Data AS def WHERE def.InterviewID = inner.InterviewID
        AND def.LoopID1 IS NULL AND def.ClosedData = inner.LoopID1))"),
            "0");

  // The interview fields of legacy table 1 are the interview table's.
  std::string legacyFields = "Cle1", newFields = "InterviewID";
  for (const CInterviewField& f : kInterviewFields) {
    legacyFields += ", " + std::string(f.targetField);
    newFields += ", " + std::string(f.sourceColumn);
  }
  EXPECT_EQ(QueryText(db, "SELECT count(*) FROM (SELECT " + legacyFields +
                              " FROM ORVResponse42_1 "
                              "EXCEPT SELECT " +
                              newFields + " FROM Orvix0042Interview)"),
            "0");
  EXPECT_EQ(QueryText(db, "SELECT count(*) FROM ORVResponse42_1"), "40");
  EXPECT_EQ(QueryText(db, "SELECT count(*) FROM Orvix0042Interview"), "40");
  EXPECT_EQ(Columns(db, "Orvix0042Interview")[1],
            (std::pair<std::string, std::string>{"StartInterview", "DATETIME"}));
  EXPECT_EQ(QueryText(db, "SELECT count(*) FROM ORVSemiOpen42"),
            QueryText(db, "SELECT count(*) FROM Orvix0042SemiOpen"));

  // The exporter's rebuilt structure has a field for every legacy response column.
  const std::string zuv = dir.file("survey.zuv");
  CQuestionnaire questionnaire;
  ASSERT_TRUE(questionnaire.Read(zuv, true, true, true, true, false, DATABASE_ZUV, 1036, true))
      << questionnaire.m_errorText;
  EXPECT_TRUE(questionnaire.VerifyDataEntryStructures(zuv, DATABASE_ZUV));
  {
    CDBStructureAdo structure = CDBStructureAdo::OnZuvFile(zuv);
    ASSERT_TRUE(structure.Open(false));
    ASSERT_TRUE(structure.DeleteAndRecreateResponseStructure(questionnaire, false))
        << structure.m_errorText;
  }
  EXPECT_EQ(TableNames(zuv, "ORV Reponse*").size(), legacyTables.size());
  for (size_t t = 1; t <= legacyTables.size(); ++t) {
    SCOPED_TRACE(t);
    std::set<std::pair<std::string, std::string>> legacy, target;
    for (auto [name, type] : Columns(db, "ORVResponse42_" + std::to_string(t))) {
      if (name[0] == 'Q' && name.find('_') != std::string::npos)
        name = name.substr(1).replace(name.find('_') - 1, 1, ";");
      legacy.emplace(name, type == "DATETIME" ? "TEXT" : type);
    }
    for (const auto& column : Columns(zuv, "ORV Reponse" + std::to_string(t)))
      target.insert(column);
    EXPECT_EQ(legacy, target);
  }
}

TEST(ToolsZuvsample, SameSeedSameFiles) {
  test::CTempDir dir;
  auto write = [&](const std::string& sub, const std::string& seed) {
    const std::string out = dir.file(sub);
    const CRun run = RunSample(dir, {"--out-dir", out, "--seed", seed, "--interviews", "60",
                                     "--loops", "2", "--sql-script", out + "/s.sql"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return out;
  };
  const std::string a = write("a", "5"), b = write("b", "5"), c = write("c", "6");
  for (const char* file : {"/survey.zuv", "/source.db", "/s.sql"}) {
    SCOPED_TRACE(file);
    EXPECT_FALSE(FileBytes(a + file).empty());
    EXPECT_EQ(FileBytes(a + file), FileBytes(b + file));
  }
  EXPECT_NE(FileBytes(a + "/source.db"), FileBytes(c + "/source.db"));

  // The script holds the same rows, quoted for SQL Server.
  const std::string script = FileBytes(a + "/s.sql");
  EXPECT_NE(script.find("CREATE TABLE [dbo].[Orvix0007Data]"), std::string::npos);
  EXPECT_NE(script.find("N'O''Brien'"), std::string::npos);
  EXPECT_EQ(script.find("'O'Brien'"), std::string::npos);
  EXPECT_TRUE(std::regex_search(script, std::regex(R"('\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d')")));
  size_t tuples = 0, inserts = 0;
  bool inData = false;
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("INSERT INTO", 0) == 0)
      inData = line.find("[Orvix0007Data]") != std::string::npos;
    if (inData && (line.rfind("(", 0) == 0 || line.rfind(") VALUES", 0) == 0)) ++tuples;
    if (line.find("VALUES") != std::string::npos && inData) ++inserts;
  }
  EXPECT_GT(inserts, 0u);
  EXPECT_EQ(std::to_string(tuples),
            QueryText(a + "/source.db", "SELECT count(*) FROM Orvix0007Data"));
}

TEST(ToolsZuvsample, LayoutChoiceAndBadOptions) {
  test::CTempDir dir;
  {
    ASSERT_EQ(RunSample(dir, {"--out-dir", dir.file("n"), "--layout", "new", "--interviews", "5"})
                  .exitCode,
              0);
    EXPECT_TRUE(TableNames(dir.file("n/source.db"), "ORV*").empty());
    EXPECT_EQ(TableNames(dir.file("n/source.db"), "Orvix*").size(), 3u);
    ASSERT_EQ(
        RunSample(dir, {"--out-dir", dir.file("l"), "--layout", "legacy", "--interviews", "5"})
            .exitCode,
        0);
    EXPECT_TRUE(TableNames(dir.file("l/source.db"), "Orvix*").empty());
    EXPECT_EQ(Columns(dir.file("l/survey.zuv"), "ORV SemiOpen").size(), 8u);
    EXPECT_EQ(QueryText(dir.file("l/survey.zuv"), "SELECT count(*) FROM \"ORV SemiOpen\""), "0");
  }
  const struct {
    std::vector<std::string> args;
    std::string message;
  } bad[] = {
      {{"--interviews", "-1"}, "--interviews must be between 0 and"},
      {{"--interviews", "many"}, "interviews"},
      {{"--layout", "wide"}, "--layout must be both, legacy or new (got 'wide')"},
      {{"--start-date", "2014-02-30"}, "--start-date must be a date written YYYY-MM-DD"},
      {{"--null-share", "1.5"}, "--null-share must be a share between 0 and 1"},
      {{"--multiple-share", "0.6", "--open-share", "0.6"}, "add up to more than 1"},
      {{"--questions", "5", "--loops", "2"}, "--questions 5 is too small"},
      {{"--survey-id", "0"}, "--survey-id must be between 1 and"},
      {{"--no-such-option"}, "no-such-option"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = {"--out-dir", dir.file("bad")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CRun run = RunSample(dir, args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad/source.db")));
  }
}

}  // namespace
}  // namespace zx
