// Whole new-layout exports of zuvsample surveys, checked against expectations
// computed here from the source rows with SQLite, never with the exporter's code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "export/exporter.hpp"
#include "platform/error.hpp"
#include "platform/odbc/source.hpp"
#include "platform/text.hpp"
#include "platform/zuv/engine.hpp"
#include "support/recording_reporter.hpp"
#include "support/sql_server.hpp"
#include "support/sqlite_file.hpp"
#include "support/sqlite_values.hpp"
#include "support/temp_dir.hpp"
#include "surveylib/additional_tables.hpp"

namespace zx {
namespace {

constexpr int32_t kSurvey = 12;

struct CElementRow {
  int32_t code, indent, typeElement, typeQuestion, nbMax, table;
  std::string additionalTables;
};

// (table, Cle1, Cle2, Cle3) with -1 for an absent loop key.
using RowKey = std::tuple<int, int64_t, int64_t, int64_t>;

class NewLayoutExport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test::CTempDir();
    const std::string command =
        std::string(ZUVSAMPLE_BIN) + " --out-dir " + s_dir->path() +
        " --survey-id 12 --interviews 150 --questions 26 --loops 2 --nested-loops 1 --tables 3"
        " --split-share 0.5 --orphan-table --sparse-ids --null-share 0.1 --layout new "
        "--sql-script " +
        s_dir->file("source.sql") + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }

  std::string Zuv() const { return s_dir->file("survey.zuv"); }
  std::string Db() const { return s_dir->file("source.db"); }

  // A private copy of the sample, for tests that alter it.
  void CopySample(const std::string& zuv, const std::string& db) const {
    std::filesystem::copy_file(Zuv(), zuv, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(Db(), db, std::filesystem::copy_options::overwrite_existing);
  }

  int Export(const std::string& zuv, const std::string& db, const std::string& target,
             const std::string& completion = "", const std::string& minDate = "",
             const std::string& maxDate = "") {
    CExporter exporter(zuv, "NEW", m_server.empty() ? test::SqliteConnectString(db) : m_server,
                       std::to_string(kSurvey), target, "CONSOLE", "", completion, minDate,
                       maxDate);
    auto recording = std::make_unique<test::CRecordingReporter>();
    test::CRecordingReporter& reporter = *recording;
    exporter.SetReporter(std::move(recording));
    const int result = exporter.ExportFromSqlNew();
    m_infos = reporter.Infos();
    m_errors = reporter.Errors();
    m_percents = reporter.Percents();
    return result;
  }

  // Checks every field of every response table of `target` against the
  // source rows of the interviews `interviewFilter` (SQL on the interview
  // table) selects.
  void ExpectExported(const std::string& target, const std::string& interviewFilter) {
    ExpectExportedFrom(Zuv(), Db(), target, interviewFilter);
  }
  void ExpectExportedFrom(const std::string& zuv, const std::string& db, const std::string& target,
                          const std::string& interviewFilter) {
    std::map<int32_t, CElementRow> elements;
    std::vector<int32_t> byPosition;
    for (const auto& r : test::QueryValues(zuv,
                                           "SELECT CodeQuestion, Indent, TypeElement, TypeQuestion,"
                                           " NbMaxReponse, NroTableReponse, AdditionalTables"
                                           " FROM Questionnaire ORDER BY Position")) {
      const auto code = static_cast<int32_t>(r[0].Int64());
      elements[code] = {code,
                        int32_t(r[1].Int64()),
                        int32_t(r[2].Int64()),
                        int32_t(r[3].Int64()),
                        int32_t(r[4].Int64()),
                        int32_t(r[5].Int64()),
                        r[6].Text()};
      byPosition.push_back(code);
    }
    auto enclosingLoop = [&](int32_t code) -> const CElementRow* {
      auto at = std::find(byPosition.begin(), byPosition.end(), code);
      int indent = elements[code].indent;
      while (at != byPosition.begin()) {
        --at;
        const CElementRow& e = elements[*at];
        if (e.indent >= indent) continue;
        if (e.typeElement == 2) return &e;
        indent = e.indent;
      }
      return nullptr;
    };
    auto tableOf = [&](const CElementRow& e, int64_t dataOrder) {
      for (const auto& token : ReadAdditionalTables(e.additionalTables)) {
        if (dataOrder >= token.FirstDataOrder() && dataOrder <= token.LastDataOrder()) {
          return token.tableNumber;
        }
      }
      return e.table;
    };

    const auto rows = test::QueryValues(
        db,
        "SELECT d.InterviewID, QuestionID, DataOrder, LoopID1, LoopID2, ClosedData,"
        " NumericData, OpenData, Duration FROM Orvix0012Data d JOIN Orvix0012Interview i"
        " ON d.InterviewID = i.InterviewID WHERE " +
            interviewFilter + " ORDER BY d.InterviewID, QuestionID, DataOrder");
    ASSERT_FALSE(rows.empty());
    std::map<RowKey, std::map<std::string, CValue>> expected;
    std::map<RowKey, int32_t> rowQuestion;  // a question of each row, for its loop
    // (interview, loop, enclosing LoopID1, value) -> DataOrder of the loop's answer.
    std::map<std::tuple<int64_t, int32_t, int64_t, int64_t>, int64_t> loopOrders;
    for (const auto& r : rows) {
      const CElementRow& e = elements.at(static_cast<int32_t>(r[1].Int64()));
      const int64_t dataOrder = r[2].Int64();
      const int64_t loop1 = r[3].IsNull() ? -1 : r[3].Int64();
      const int64_t loop2 = r[3].IsNull() || r[4].IsNull() ? -1 : r[4].Int64();
      if (e.typeElement == 2 && !r[5].IsNull()) {
        loopOrders[{r[0].Int64(), e.code, loop1, r[5].Int64()}] = dataOrder;
      }
      const RowKey key{tableOf(e, dataOrder), r[0].Int64(), loop1, loop2};
      auto& fields = expected[key];
      rowQuestion.try_emplace(key, e.code);
      fields.try_emplace(fmt::format("{};0", e.code), r[8]);  // the first DataOrder's
      const CValue& value = !r[5].IsNull() ? r[5] : !r[6].IsNull() ? r[6] : r[7];
      // Loop values of numbered loops are not stored.
      if (value.IsNull() || (e.typeElement == 2 && e.typeQuestion == 4 && !r[5].IsNull())) {
        continue;
      }
      ASSERT_TRUE(fields.emplace(fmt::format("{};{}", e.code, dataOrder), value).second);
    }
    for (auto& [key, fields] : expected) {
      const auto [table, id, loop1, loop2] = key;
      if (loop1 < 0) continue;
      const CElementRow* loop = enclosingLoop(rowQuestion[key]);
      ASSERT_NE(loop, nullptr);
      const int64_t last = loop2 >= 0 ? loop2 : loop1;
      if (loop->typeQuestion == 4) {
        fields["Ordre"] = CValue::FromInt64(last);
      } else {
        fields["Ordre"] =
            CValue::FromInt64(loopOrders.at({id, loop->code, loop2 >= 0 ? loop1 : -1, last}));
      }
    }

    std::set<RowKey> seen;
    const auto tableCount =
        test::QueryValues(
            target,
            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name LIKE 'ORV Reponse%'")
            .at(0)
            .at(0)
            .Int64();
    for (int t = 1; t <= tableCount; ++t) {
      const std::string table = "[ORV Reponse" + std::to_string(t) + "]";
      std::vector<std::string> columns;
      for (const auto& c :
           test::QueryValues(target, "SELECT name FROM pragma_table_info('ORV Reponse" +
                                         std::to_string(t) + "')")) {
        columns.push_back(c[0].Text());
      }
      for (const auto& row : test::QueryValues(target, "SELECT * FROM " + table)) {
        int64_t keys[3] = {-1, -1, -1};
        for (size_t c = 0; c < columns.size(); ++c) {
          for (int k = 0; k < 3; ++k) {
            if (columns[c] == "Cle" + std::to_string(k + 1) && !row[c].IsNull()) {
              keys[k] = row[c].Int64();
            }
          }
        }
        const RowKey key{t, keys[0], keys[1], keys[2]};
        ASSERT_TRUE(seen.insert(key).second) << "a second row for one key in table " << t;
        auto found = expected.find(key);
        ASSERT_NE(found, expected.end()) << "unexpected row in table " << t << " for " << keys[0];
        for (size_t c = 0; c < columns.size(); ++c) {
          const std::string& name = columns[c];
          const size_t semicolon = name.find(';');
          if (semicolon == std::string::npos && name != "Ordre") continue;
          auto value = found->second.find(name);
          CValue want;
          if (value != found->second.end()) {
            want = value->second;
          } else if (semicolon != std::string::npos && name.substr(semicolon + 1) != "0") {
            const CElementRow& e = elements.at(LeadingInt(name));
            if (e.typeElement == 1 && e.typeQuestion == 1) want = CValue::FromInt64(-2);
          }
          EXPECT_PRED2(test::SameValue, row[c], want)
              << table << " Cle1 " << keys[0] << " Cle2 " << keys[1] << " field " << name;
        }
      }
    }
    EXPECT_EQ(seen.size(), expected.size());

    // The interview fields of table 1.
    const auto interviews =
        test::QueryValues(target,
                          "SELECT Cle1, CodeEnqueteur, DebutInterview, Completed, Longitude, Guid"
                          " FROM [ORV Reponse1] ORDER BY Cle1");
    const auto source =
        test::QueryValues(db,
                          "SELECT InterviewID, AgentId, StartInterview, Completed, Longitude, Guid"
                          " FROM Orvix0012Interview WHERE " +
                              interviewFilter);
    std::map<int64_t, std::vector<CValue>> byId;
    for (const auto& r : source) byId[r[0].Int64()] = r;
    ASSERT_FALSE(interviews.empty());
    for (const auto& r : interviews) {
      const auto& want = byId.at(r[0].Int64());
      for (size_t c = 0; c < r.size(); ++c) EXPECT_PRED2(test::SameValue, r[c], want[c]) << c;
    }
  }

  static test::CTempDir* s_dir;
  std::string m_server;  // the connection string of Export when not empty
  std::vector<std::string> m_infos, m_errors;
  std::vector<int> m_percents;
};
test::CTempDir* NewLayoutExport::s_dir = nullptr;

bool Contains(const std::vector<std::string>& messages, const std::string& text) {
  return std::find(messages.begin(), messages.end(), text) != messages.end();
}

TEST_F(NewLayoutExport, EveryValueLandsOnceInItsField) {
  test::CTempDir dir;
  const std::string target = dir.file("out.zuv");
  ASSERT_EQ(Export(Zuv(), Db(), target), 0) << ::testing::PrintToString(m_errors);
  EXPECT_TRUE(m_errors.empty());
  EXPECT_TRUE(Contains(m_infos, "Filling empty fields..."));
  ASSERT_FALSE(m_percents.empty());
  EXPECT_EQ(m_percents.back(), 100);
  ExpectExported(target, "1");
  EXPECT_FALSE(std::filesystem::exists(target + ".tmp"));

  // One split question's last part sits two tables beyond every question's
  // own: the table between holds no question and still exists, with keys only.
  const int64_t ownTables =
      test::QueryValues(Zuv(), "SELECT max(NroTableReponse) FROM Questionnaire")
          .at(0)
          .at(0)
          .Int64();
  auto count = [&](const std::string& sql) {
    return test::QueryValues(target, sql).at(0).at(0).Int64();
  };
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE type = 'table'"
                  " AND name LIKE 'ORV Reponse%'"),
            ownTables + 2);
  EXPECT_EQ(count(fmt::format("SELECT count(*) FROM pragma_table_info('ORV Reponse{}')"
                              " WHERE name LIKE '%;%'",
                              ownTables + 1)),
            0);
  EXPECT_GT(count(fmt::format("SELECT count(*) FROM [ORV Reponse{}]", ownTables + 2)), 0);
}

TEST_F(NewLayoutExport, LooselyWrittenAdditionalTablesExportTheSame) {
  test::CTempDir dir;
  const std::string zuv = dir.file("survey.zuv"), db = dir.file("source.db");
  CopySample(zuv, db);
  const auto split = test::QueryValues(zuv,
                                       "SELECT CodeQuestion FROM Questionnaire WHERE "
                                       "AdditionalTables <> '' ORDER BY Position LIMIT 1");
  ASSERT_FALSE(split.empty());
  const int64_t code = split[0][0].Int64();
  // Blanks before the numbers and after ';', a final ';', tokens naming no
  // table on a question that carries data, and a bare '2' on the text blocks,
  // which carry none.
  test::RunSql(zuv, fmt::format("UPDATE Questionnaire SET AdditionalTables = ' ' || replace("
                                "replace(AdditionalTables, ';', '; '), ',', ', ') || ';' "
                                "WHERE AdditionalTables <> '';"
                                "UPDATE Questionnaire SET AdditionalTables = AdditionalTables"
                                " || 'x; 40000:1,2' WHERE CodeQuestion = {};"
                                "UPDATE Questionnaire SET AdditionalTables = '2' WHERE "
                                "TypeElement = 3 AND DataFlag = 0 AND DataCount = 0",
                                code));
  ASSERT_FALSE(
      test::QueryValues(zuv, "SELECT 1 FROM Questionnaire WHERE AdditionalTables = '2'").empty());
  const std::string target = dir.file("out.zuv");
  ASSERT_EQ(Export(zuv, db, target), 0) << ::testing::PrintToString(m_errors);
  EXPECT_TRUE(m_errors.empty());
  std::vector<std::string> notes;
  for (const std::string& info : m_infos)
    if (info.rfind("Question ", 0) == 0) notes.push_back(info);
  EXPECT_EQ(notes, (std::vector<std::string>{
                       fmt::format("Question {}: AdditionalTables token 'x' names no response "
                                   "table",
                                   code),
                       fmt::format("Question {}: AdditionalTables token ' 40000:1,2' names no "
                                   "response table",
                                   code)}));
  // The well-formed sample says where every value belongs; its tables are
  // those of EveryValueLandsOnceInItsField, none for the tokens naming none.
  ExpectExportedFrom(Zuv(), db, target, "1");
  const int64_t highest =
      test::QueryValues(Zuv(), "SELECT max(NroTableReponse) + 2 FROM Questionnaire")
          .at(0)
          .at(0)
          .Int64();
  const auto tables = test::QueryValues(target,
                                        "SELECT max(CAST(substr(name, 12) AS INTEGER)), count(*) "
                                        "FROM sqlite_master WHERE type = 'table' AND name LIKE "
                                        "'ORV Reponse%'");
  EXPECT_EQ(tables.at(0).at(0).Int64(), highest);
  EXPECT_EQ(tables.at(0).at(1).Int64(), highest);
}

TEST_F(NewLayoutExport, FiltersSelectTheSameInterviewsInCountsAndRows) {
  test::CTempDir dir;
  const std::string zuv = dir.file("survey.zuv"), db = dir.file("source.db");
  CopySample(zuv, db);
  // Interviews that started exactly at a bound are excluded.
  test::RunSql(db,
               "UPDATE Orvix0012Interview SET StartInterview = '2014-03-01 00:00:00', Completed = 1"
               " WHERE InterviewID = (SELECT MIN(InterviewID) FROM Orvix0012Interview);"
               "UPDATE Orvix0012Interview SET StartInterview = '2014-09-01 00:00:00', Completed = 1"
               " WHERE InterviewID = (SELECT MAX(InterviewID) FROM Orvix0012Interview);");
  const std::string window =
      "StartInterview > '2014-03-01 00:00:00' AND StartInterview < '2014-09-01 00:00:00'";
  struct CCase {
    std::string completion, min, max, filter;
  };
  for (const CCase& c :
       {CCase{"COMPLETE", "01/03/2014", "01/09/2014", "Completed <> 0 AND " + window},
        CCase{"INCOMPLETE", "", "", "Completed = 0"}}) {
    SCOPED_TRACE(c.completion);
    const std::string target = dir.file("out-" + c.completion + ".zuv");
    ASSERT_EQ(Export(zuv, db, target, c.completion, c.min, c.max), 0);
    const auto count =
        test::QueryValues(db, "SELECT count(*) FROM Orvix0012Interview WHERE " + c.filter)[0][0];
    EXPECT_TRUE(
        Contains(m_infos, fmt::format("The total number of interviews is {}\n", count.Int64())));
    ExpectExportedFrom(zuv, db, target, c.filter);
  }
}

// Through FreeTDS to SQL Server (the stand-in answers in a random row order
// and with a case-sensitive collation): the targets of the SQLite runs.
TEST_F(NewLayoutExport, SqlServerGivesTheSameTargets) {
  test::CTempDir dir;
  const std::string served = dir.file("server.db");
  test::CSqlServer(served).RunScript(s_dir->file("source.sql"));
  std::vector<std::string> switches;
  if (!test::CSqlServer::IsReal()) switches = {"--shuffle", "--case-sensitive"};
  test::CSqlServer server(served, switches);
  const std::string window =
      "StartInterview > '2014-03-01 00:00:00' AND StartInterview < '2014-09-01 00:00:00'";
  struct CCase {
    std::string completion, min, max, filter;
  };
  for (const CCase& c :
       {CCase{"ALL", "", "", "1"},
        CCase{"COMPLETE", "01/03/2014", "01/09/2014", "Completed <> 0 AND " + window},
        CCase{"INCOMPLETE", "", "01/09/2014",
              "Completed = 0 AND StartInterview < '2014-09-01 00:00:00'"}}) {
    SCOPED_TRACE(c.completion);
    const std::string completion = c.completion == "ALL" ? "" : c.completion;
    const std::string viaSqlite = dir.file("sqlite.zuv"), viaServer = dir.file("server.zuv");
    m_server.clear();
    ASSERT_EQ(Export(Zuv(), Db(), viaSqlite, completion, c.min, c.max), 0);
    m_server = server.ConnectString();
    ASSERT_EQ(Export(Zuv(), Db(), viaServer, completion, c.min, c.max), 0)
        << ::testing::PrintToString(m_errors);
    ExpectExportedFrom(Zuv(), Db(), viaServer, c.filter);
    test::ExpectSameTables(viaSqlite, viaServer);
    std::filesystem::remove(viaSqlite);
    std::filesystem::remove(viaServer);
  }
  {
    SCOPED_TRACE("negative interview ids");
    const std::string zuv = dir.file("survey.zuv"), db = dir.file("source.db");
    CopySample(zuv, db);
    auto source = ConnectOdbc(server.ConnectString(), 300);
    for (const char* table : {"Orvix0012Data", "Orvix0012Interview"}) {
      const std::string negate = fmt::format(
          "UPDATE [{}] SET InterviewID = -InterviewID WHERE InterviewID % 3 = 0", table);
      test::RunSql(db, negate);
      source->Execute(negate);
    }
    m_server.clear();
    ASSERT_EQ(Export(zuv, db, dir.file("sqlite.zuv")), 0);
    m_server = server.ConnectString();
    ASSERT_EQ(Export(zuv, db, dir.file("server.zuv")), 0) << ::testing::PrintToString(m_errors);
    ExpectExportedFrom(zuv, db, dir.file("server.zuv"), "1");
    test::ExpectSameTables(dir.file("sqlite.zuv"), dir.file("server.zuv"));
  }
  if (test::CSqlServer::IsReal()) return;
  // A server error or a lost connection in the middle of either read of
  // the first table ends the export; the previous target stays as it was.
  const std::string target = dir.file("server.zuv");
  const std::string before = test::ReadFileBytes(target);
  for (const auto& [query, fault] : std::vector<std::pair<std::string, std::string>>{
           {"^SELECT \\[Orvix0012Data\\]", "--error-after=0"},
           {"^SELECT \\[Orvix0012Data\\]", "--error-after=7"},
           {"^SELECT \\* FROM \\[Orvix0012Interview\\] WHERE", "--error-after=3"},
           {"^SELECT \\[Orvix0012Data\\]", "--drop-after=5"}}) {
    SCOPED_TRACE(query + " " + fault);
    test::CSqlServer faulty(served, {"--fault-query", query, fault});
    m_server = faulty.ConnectString();
    EXPECT_EQ(Export(Zuv(), Db(), target), 1);
    ASSERT_FALSE(m_errors.empty());
    EXPECT_THAT(m_errors.back(), ::testing::AnyOf(::testing::HasSubstr("deadlock victim"),
                                                  ::testing::HasSubstr("Unexpected EOF")));
    EXPECT_TRUE(test::ReadFileBytes(target) == before) << "the previous target changed";
  }
}

TEST_F(NewLayoutExport, IdsSpreadUpToTwoBillionAreReadInFewRanges) {
  test::CTempDir dir;
  const std::string zuv = dir.file("survey.zuv"), db = dir.file("source.db");
  CopySample(zuv, db);
  // From about 1e5 to about 2e9: ranges of a fixed id width would need
  // millions of queries per table.
  test::RunSql(db,
               "UPDATE Orvix0012Data SET InterviewID = InterviewID * 19000;"
               "UPDATE Orvix0012Interview SET InterviewID = InterviewID * 19000;");
  const auto biggest = test::QueryValues(db, "SELECT MAX(InterviewID) FROM Orvix0012Interview");
  ASSERT_GT(biggest.at(0).at(0).Int64(), 2'000'000'000);
  const std::string target = dir.file("out.zuv");
  ASSERT_EQ(Export(zuv, db, target), 0) << ::testing::PrintToString(m_errors);
  EXPECT_TRUE(m_errors.empty());
  EXPECT_TRUE(Contains(
      m_infos, fmt::format("The biggest interview id is {}\n", biggest.at(0).at(0).Int64())));
  ASSERT_FALSE(m_percents.empty());
  EXPECT_EQ(m_percents.back(), 100);
  ExpectExportedFrom(zuv, db, target, "1");
}

TEST_F(NewLayoutExport, NothingToExportKeepsTheStructure) {
  test::CTempDir dir;
  const std::string zuv = dir.file("survey.zuv"), db = dir.file("source.db");
  CopySample(zuv, db);
  test::RunSql(zuv, "UPDATE Questionnaire SET DataFlag = 0, DataCount = 0");
  const std::string target = dir.file("out.zuv");
  ASSERT_EQ(Export(zuv, db, target), 0);
  EXPECT_TRUE(Contains(m_infos, "Nothing to export"));
  EXPECT_FALSE(Contains(m_infos, "Recompacting Zuv File..."));
  EXPECT_FALSE(test::QueryValues(target, "SELECT * FROM Questionnaire").empty());
}

TEST_F(NewLayoutExport, ReadFailureIsReportedAndEndsTheExport) {
  test::CTempDir dir;
  const std::string zuv = dir.file("survey.zuv"), db = dir.file("source.db");
  CopySample(zuv, db);
  test::RunSql(db,
               "UPDATE Orvix0012Data SET LoopID1 = 'abc' WHERE rowid = (SELECT MAX(rowid)"
               " FROM Orvix0012Data WHERE LoopID1 IS NOT NULL)");
  const std::string target = dir.file("out.zuv");
  EXPECT_EQ(Export(zuv, db, target), 1);
  ASSERT_EQ(m_errors.size(), 1u) << ::testing::PrintToString(m_errors);
  EXPECT_EQ(m_errors[0].rfind("Error at CExporter::ReadTableFromSqlNew\n", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(target));

  test::RunSql(db,
               "UPDATE Orvix0012Data SET LoopID1 = NULL WHERE LoopID1 = 'abc';"
               "ALTER TABLE Orvix0012Data RENAME COLUMN Duration TO Spent");
  EXPECT_EQ(Export(zuv, db, target), 1);
  EXPECT_EQ(m_errors, (std::vector<std::string>{"CExporter::ExportFromSqlNew",
                                                "The source rows have no column Duration"}));
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(NewLayoutExport, WriteFailureStopsTheReader) {
  test::CTempDir dir;
  const std::string target = dir.file("out.zuv");
  int updates = 0;
  SetZuvFaultHook([&](std::string_view operation, std::string_view table) -> uint32_t {
    // The writer's thread only: the hook needs no lock.
    if (operation == "Update" && table == "ORV Reponse2" && ++updates == 3) {
      return codes::kEngineError;
    }
    return 0;
  });
  const int result = Export(Zuv(), Db(), target);
  SetZuvFaultHook(nullptr);
  EXPECT_EQ(result, 1);
  ASSERT_EQ(m_errors.size(), 4u) << ::testing::PrintToString(m_errors);
  EXPECT_EQ(m_errors[0], "Error while trying to write data in the target Zuv file");
  EXPECT_EQ(m_errors[1].rfind("Error at CExporter::ExportFromSqlNew\n", 0), 0u);
  EXPECT_EQ(m_errors[2].rfind("Last column exported: ", 0), 0u);
  EXPECT_EQ(m_errors[3].rfind("Question refernce used for loop fields: ", 0), 0u);
  EXPECT_FALSE(Contains(m_infos, "Filling empty fields..."));
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(NewLayoutExport, TheProgramExportsTheSame) {
  test::CTempDir dir;
  const std::string target = dir.file("out.zuv");
  const std::string command = std::string(ZUVEXPORT_BIN) + " --source " + Zuv() +
                              " --format NEW --connectstring \"" + test::SqliteConnectString(Db()) +
                              "\" --id 12 --target " + target +
                              " --endpause UNPAUSE > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ExpectExported(target, "1");
}

}  // namespace
}  // namespace zx
