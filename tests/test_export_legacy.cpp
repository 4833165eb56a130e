// End-to-end exports of a legacy-layout sample survey, in process and through
// the real binary; the result is checked against the source independently.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "export/exporter.hpp"
#include "platform/error.hpp"
#include "platform/zuv/engine.hpp"
#include "support/legacy_check.hpp"
#include "support/process.hpp"
#include "support/recording_reporter.hpp"
#include "support/sql_server.hpp"
#include "support/sqlite_values.hpp"
#include "support/temp_dir.hpp"

namespace zx::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr int32_t kSurvey = 7;

struct CRun {
  int result = -1;
  CRecordingReporter* reporter = nullptr;  // owned by the exporter, valid until it goes
  std::vector<std::string> infos, errors;
  std::vector<int> percents;
};

// Through the SQLite ODBC driver on dir/source.db unless `connect` names another source.
CRun Export(const CTempDir& dir, const std::string& target, const std::string& completion = "",
            const std::string& minDate = "", const std::string& maxDate = "",
            const std::string& connect = "") {
  CExporter exporter(dir.file("survey.zuv"), "LEGACY",
                     connect.empty() ? SqliteOdbcConnect(dir.file("source.db")) : connect,
                     std::to_string(kSurvey), target, "CONSOLE", "", completion, minDate, maxDate);
  auto reporter = std::make_unique<CRecordingReporter>();
  CRecordingReporter& recorded = *reporter;
  exporter.SetReporter(std::move(reporter));
  CRun run;
  run.result = exporter.ExportFromSqlLegacy();
  run.infos = recorded.Infos();
  run.errors = recorded.Errors();
  run.percents = recorded.Percents();
  return run;
}

std::vector<std::string> Filter(const std::vector<std::string>& lines, bool readThread) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    if ((line.rfind("[Read Thread]", 0) == 0) == readThread) out.push_back(line);
  }
  return out;
}

int LegacyTableCount(const std::string& sourceDb) {
  int count = 0;
  for (const std::string& name : TableNames(sourceDb)) {
    if (name.rfind("ORVResponse" + std::to_string(kSurvey) + "_", 0) == 0) ++count;
  }
  return count;
}

std::vector<std::string> DirectoryFiles(const CTempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Sets the engine's fault hook for one scope.
struct CFaultHook {
  explicit CFaultHook(ZuvFaultHook hook) { SetZuvFaultHook(std::move(hook)); }
  ~CFaultHook() { SetZuvFaultHook(nullptr); }
};

TEST(ExportLegacy, CopiesEveryRowAndReportsEachStage) {
  CTempDir dir;
  // --orphan-table: a table with no question, and one holding only a split
  // part (of a multiple choice, hence the larger share).
  MakeLegacySample(dir.path(),
                   {"--interviews", "400", "--tables", "3", "--loops", "2", "--nested-loops", "1",
                    "--questions", "20", "--multiple-share", "0.5", "--orphan-table"});
  // Written loosely: blanks before the numbers and after ';', a final ';', and
  // a bare '2' on the text blocks, which carry no data. Read as the sample's.
  RunSql(dir.file("survey.zuv"),
         "UPDATE Questionnaire SET AdditionalTables = ' ' || replace(replace(AdditionalTables, "
         "';', '; '), ',', ', ') || ';' WHERE AdditionalTables <> '';"
         "UPDATE Questionnaire SET AdditionalTables = '2' WHERE TypeElement = 3");
  const std::string sourceDb = dir.file("source.db");
  const std::string target = dir.file("target.zuv");
  CRun run = Export(dir, target);
  ASSERT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
  EXPECT_THAT(run.errors, ::testing::IsEmpty());

  EXPECT_GT(ExpectLegacyExport(sourceDb, target, kSurvey), 400);

  const int tables = LegacyTableCount(sourceDb);
  ASSERT_GE(tables, 4);
  int64_t total = 0;
  std::vector<int64_t> rows(tables + 1);
  for (int t = 1; t <= tables; ++t) {
    rows[t] =
        std::stoll(QueryText(sourceDb, "SELECT COUNT(*) FROM ORVResponse7_" + std::to_string(t)));
    total += rows[t];
  }
  ASSERT_EQ(rows[tables - 1], 0) << "the table without a question";
  std::vector<std::string> main = {"Reading Questionnaire Structure...",
                                   "Creating Target Zuv Structure...",
                                   "Beginning export",
                                   "Connecting to SQL Database...",
                                   "Connecting to Zuv File Database Engine...",
                                   "Listing questions per table...",
                                   "Copying Semi-opens table...",
                                   "Getting total number of rows...",
                                   "The total number of rows is " + std::to_string(total)};
  std::vector<std::string> read;
  for (int t = 1; t <= tables; ++t) {
    main.push_back("[Write Thread] Beginning Writes on table number " + std::to_string(t));
    main.push_back("[Write Thread] Table number " + std::to_string(t) + " Written");
    read.push_back("[Read Thread] Opening SQL Table...");
    if (rows[t] == 0) continue;  // opened, found empty, passed
    read.push_back("[Read Thread] Begining Reads on SQL Table number " + std::to_string(t));
    read.push_back("[Read Thread] Done reading Table number " + std::to_string(t));
  }
  main.push_back("Recompacting Zuv File...");
  EXPECT_THAT(Filter(run.infos, false), ElementsAreArray(main));
  EXPECT_THAT(Filter(run.infos, true), ElementsAreArray(read));

  ASSERT_FALSE(run.percents.empty());
  EXPECT_TRUE(std::is_sorted(run.percents.begin(), run.percents.end()));
  EXPECT_EQ(run.percents.back(), 100);

  // Compacted in place; no work copy or temporary file left beside it.
  EXPECT_EQ(QueryText(target, "PRAGMA freelist_count"), "0");
  EXPECT_THAT(DirectoryFiles(dir), ElementsAreArray({"source.db", "survey.zuv", "target.zuv"}));

  // Every semi-open answer of the survey, with its caption.
  const CTableRows semiOpens = ReadTable(sourceDb, "ORVSemiOpen7");
  ASSERT_FALSE(semiOpens.rows.empty());
  for (const auto& row : semiOpens.rows) {
    EXPECT_EQ(QueryText(target,
                        "SELECT LibelleSO FROM \"ORV SemiOpen\" WHERE CodeReponseSO = " + *row[0]),
              row[2].value_or("NULL"));
  }
}

TEST(ExportLegacy, FiltersTableOneAndKeepsOnlyItsInterviewsElsewhere) {
  CTempDir dir;
  MakeLegacySample(dir.path(),
                   {"--interviews", "300", "--tables", "2", "--loops", "1", "--questions", "12",
                    "--complete-share", "0.6", "--start-date", "2014-01-01", "--days", "200"});
  const std::string sourceDb = dir.file("source.db");
  const CTableRows first = ReadTable(sourceDb, "ORVResponse7_1");
  const int key = first.Column("Cle1"), completed = first.Column("Completed"),
            start = first.Column("DebutInterview");
  ASSERT_GE(key, 0);
  ASSERT_GE(completed, 0);
  ASSERT_GE(start, 0);
  auto accepted = [&](auto keep) {
    std::set<std::string> keys;
    for (const auto& row : first.rows) {
      if (keep(row)) keys.insert(*row[key]);
    }
    EXPECT_GT(keys.size(), 0u);
    EXPECT_LT(keys.size(), first.rows.size());
    return keys;
  };
  auto startText = [&](const auto& row) { return row[start].value_or(""); };

  {
    SCOPED_TRACE("complete interviews");
    CRun run = Export(dir, dir.file("complete.zuv"), "COMPLETE");
    ASSERT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
    ExpectLegacyExport(sourceDb, dir.file("complete.zuv"), kSurvey,
                       accepted([&](const auto& row) { return row[completed] == "1"; }));
  }
  {
    SCOPED_TRACE("incomplete interviews started after a day (exclusive)");
    CRun run = Export(dir, dir.file("incomplete.zuv"), "INCOMPLETE", "15/03/2014");
    ASSERT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
    ExpectLegacyExport(sourceDb, dir.file("incomplete.zuv"), kSurvey,
                       accepted([&](const auto& row) {
                         return row[completed] == "0" && startText(row) > "2014-03-15 00:00:00";
                       }));
  }
  {
    SCOPED_TRACE("both date bounds, no completion filter");
    CRun run = Export(dir, dir.file("dates.zuv"), "", "01/02/2014", "1/5/2014");
    ASSERT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
    ExpectLegacyExport(sourceDb, dir.file("dates.zuv"), kSurvey, accepted([&](const auto& row) {
                         return startText(row) > "2014-02-01 00:00:00" &&
                                startText(row) < "2014-05-01 00:00:00";
                       }));
  }
}

TEST(ExportLegacy, SurveyWithoutInterviews) {
  CTempDir dir;
  MakeLegacySample(dir.path(), {"--interviews", "0", "--tables", "2", "--loops", "0"});
  CRun run = Export(dir, dir.file("target.zuv"));
  ASSERT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
  EXPECT_THAT(run.infos, ::testing::Contains("The total number of rows is 0"));
  EXPECT_THAT(run.infos, ::testing::Contains("[Write Thread] Table number 2 Written"));
  // Empty tables: only the opening line on the read side, no percentage.
  EXPECT_THAT(Filter(run.infos, true), ElementsAreArray({"[Read Thread] Opening SQL Table...",
                                                         "[Read Thread] Opening SQL Table..."}));
  EXPECT_THAT(run.percents, ::testing::IsEmpty());
  EXPECT_EQ(QueryText(dir.file("target.zuv"), "SELECT COUNT(*) FROM \"ORV Reponse1\""), "0");
}

TEST(ExportLegacy, IdleRecoveryResumesAtTheFailedRow) {
  CTempDir dir;
  MakeLegacySample(dir.path(),
                   {"--interviews", "2500", "--tables", "2", "--loops", "0", "--questions", "8"});
  const std::string sourceDb = dir.file("source.db");
  {
    SCOPED_TRACE("one exhaustion mid-batch");
    int updates = 0;
    CFaultHook hook([&](std::string_view operation, std::string_view table) -> uint32_t {
      return operation == "Update" && table.starts_with("ORV Reponse") && ++updates == 1500
                 ? codes::kResourcesExceeded
                 : 0;
    });
    CRun run = Export(dir, dir.file("idle.zuv"));
    ASSERT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
    EXPECT_EQ(std::count(run.infos.begin(), run.infos.end(), "Entering Idle Mode..."), 1);
    // The read thread's lines may come in between; the writer's own come in pairs.
    const std::vector<std::string> writer = Filter(run.infos, false);
    auto entering = std::find(writer.begin(), writer.end(), "Entering Idle Mode...");
    ASSERT_NE(entering, writer.end());
    ASSERT_NE(entering + 1, writer.end());
    EXPECT_EQ(*(entering + 1), "Leaving Idle Mode");
    ExpectLegacyExport(sourceDb, dir.file("idle.zuv"), kSurvey);
  }
  {
    SCOPED_TRACE("exhaustion that does not go away");
    int updates = 0;
    CFaultHook hook([&](std::string_view operation, std::string_view table) -> uint32_t {
      return operation == "Update" && table.starts_with("ORV Reponse") && ++updates >= 700
                 ? codes::kResourcesExceeded
                 : 0;
    });
    CRun run = Export(dir, dir.file("stuck.zuv"));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(std::count(run.infos.begin(), run.infos.end(), "Entering Idle Mode..."), 3);
    ASSERT_EQ(run.errors.size(), 2u) << ::testing::PrintToString(run.errors);
    EXPECT_EQ(run.errors[0], "Error while trying to write data in the target Zuv file.");
    EXPECT_THAT(run.errors[1], StartsWith("Error at CExporter::ExportFromSqlLegacy\n"));
    EXPECT_FALSE(fs::exists(dir.file("stuck.zuv")));
  }
}

TEST(ExportLegacy, WriteFailureLeavesAnExistingTargetUntouched) {
  CTempDir dir;
  MakeLegacySample(dir.path(), {"--interviews", "200", "--tables", "2", "--loops", "0"});
  const std::string target = dir.file("target.zuv");
  fs::copy_file(dir.file("survey.zuv"), target);
  const std::string before = ReadFileBytes(target);

  int updates = 0;
  CFaultHook hook([&](std::string_view operation, std::string_view table) -> uint32_t {
    return operation == "Update" && table == "ORV Reponse2" && ++updates == 5 ? codes::kEngineError
                                                                              : 0;
  });
  CRun run = Export(dir, target);
  EXPECT_EQ(run.result, 1);
  ASSERT_EQ(run.errors.size(), 2u) << ::testing::PrintToString(run.errors);
  EXPECT_EQ(run.errors[0], "Error while trying to write data in the target Zuv file.");
  EXPECT_THAT(run.errors[1], StartsWith("Error at CExporter::ExportFromSqlLegacy\n"));
  EXPECT_THAT(run.infos, ::testing::Contains("[Write Thread] Table number 1 Written"));
  EXPECT_THAT(run.infos,
              ::testing::Not(::testing::Contains("[Write Thread] Table number 2 Written")));
  EXPECT_THAT(run.infos, ::testing::Not(::testing::Contains("Recompacting Zuv File...")));
  EXPECT_EQ(ReadFileBytes(target), before);
  EXPECT_THAT(DirectoryFiles(dir), ElementsAreArray({"source.db", "survey.zuv", "target.zuv"}));
}

// Through FreeTDS to SQL Server: the targets of the SQLite runs, whatever the
// row order; and any fault of the server ends the export with the server's
// message and leaves the previous target as it was.
TEST(ExportLegacy, SqlServerThroughFreeTds) {
  CTempDir dir;
  // Table 2 holds only numbers, one row per interview: read in blocks of 1000.
  MakeLegacySample(dir.path(),
                   {"--interviews", "2500", "--tables", "3", "--loops", "1", "--questions", "12",
                    "--open-share", "0", "--sql-script", dir.file("source.sql")});
  const std::string served = dir.file("server.db");
  CSqlServer(served).RunScript(dir.file("source.sql"));
  {
    CSqlServer server(served, CSqlServer::IsReal() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{"--shuffle"});
    struct CCase {
      std::string completion, min, max;
    };
    for (const CCase& c : {CCase{"", "", ""}, CCase{"COMPLETE", "01/02/2014", ""},
                           CCase{"INCOMPLETE", "", "1/5/2014"}}) {
      SCOPED_TRACE(c.completion + " " + c.min + " " + c.max);
      ASSERT_EQ(Export(dir, dir.file("sqlite.zuv"), c.completion, c.min, c.max).result, 0);
      CRun run =
          Export(dir, dir.file("server.zuv"), c.completion, c.min, c.max, server.ConnectString());
      ASSERT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
      if (c.completion.empty()) {
        ExpectLegacyExport(dir.file("source.db"), dir.file("server.zuv"), kSurvey);
      }
      ExpectSameTables(dir.file("sqlite.zuv"), dir.file("server.zuv"));
      fs::remove(dir.file("sqlite.zuv"));
      fs::remove(dir.file("server.zuv"));
    }
  }
  if (CSqlServer::IsReal()) return;  // the faults are the stand-in's

  const std::string target = dir.file("target.zuv");
  fs::copy_file(dir.file("survey.zuv"), target);
  const std::string before = ReadFileBytes(target);
  const std::string deadlock = "chosen as the deadlock victim";
  struct CFault {
    std::vector<std::string> switches;
    std::string message;  // "" for a fault that must not stop the export
    // The read of the table by default, not the probe for it nor its count.
    std::string query = "^SELECT \\* FROM \\[ORVResponse7_2\\]$";
  };
  for (const CFault& f :
       {CFault{{"--error-after", "0"}, deadlock}, CFault{{"--error-after", "1499"}, deadlock},
        CFault{{"--error-after", "1000"}, deadlock}, CFault{{"--error-after", "2499"}, deadlock},
        CFault{{"--error-after", "2500"}, deadlock},
        CFault{{"--drop-after", "1000"}, "Unexpected EOF from the server"},
        CFault{{"--drop-after", "1200"}, "Unexpected EOF from the server"},
        CFault{{"--warning-after", "1000"}, ""},
        // A failed probe is the server's error, not a missing table.
        CFault{{"--error-after", "0"}, deadlock, "WHERE 1 = 0$"}}) {
    SCOPED_TRACE(f.switches[0] + " " + f.switches[1] + " " + f.query);
    std::vector<std::string> switches = {"--fault-query", f.query};
    switches.insert(switches.end(), f.switches.begin(), f.switches.end());
    CSqlServer faulty(served, switches);
    const std::string out = f.message.empty() ? dir.file("warned.zuv") : target;
    CRun run = Export(dir, out, "", "", "", faulty.ConnectString());
    if (f.message.empty()) {
      ASSERT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
      ExpectLegacyExport(dir.file("source.db"), out, kSurvey);
      continue;
    }
    EXPECT_EQ(run.result, 1);
    EXPECT_THAT(run.errors, ::testing::Contains(HasSubstr(f.message)))
        << ::testing::PrintToString(run.errors);
    EXPECT_TRUE(ReadFileBytes(target) == before) << "the previous target changed";
  }
}

TEST(ExportLegacy, BinaryRunExitsZeroAndTimesTheExport) {
  CTempDir dir;
  MakeLegacySample(dir.path(), {"--interviews", "100", "--tables", "2"});
  // One question stored through a loosely written AdditionalTables text: its
  // own table, then a token naming none, which only gets a line.
  const std::string code = QueryText(dir.file("survey.zuv"),
                                     "SELECT min(CodeQuestion) FROM Questionnaire WHERE "
                                     "TypeElement = 1 AND DataFlag <> 0 AND AdditionalTables = ''");
  ASSERT_TRUE(std::regex_match(code, std::regex("[0-9]+"))) << code;
  RunSql(dir.file("survey.zuv"),
         "UPDATE Questionnaire SET AdditionalTables = ' ' || "
         "NroTableReponse || ':1,' || NbMaxReponse || '; x;' "
         "WHERE CodeQuestion = " +
             code);
  const std::string target = dir.file("out.zuv");
  CProcessResult run =
      RunProcess(ZUVEXPORT_BIN, {"--source", dir.file("survey.zuv"), "--format", "LEGACY",
                                 "--connectstring", SqliteOdbcConnect(dir.file("source.db")),
                                 "--id", "7", "--target", target, "--endpause", "UNPAUSE"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("Info: Recompacting Zuv File...\n"));
  EXPECT_THAT(run.out, HasSubstr("Info: Question " + code +
                                 ": AdditionalTables token ' x' names no response table\n"));
  // std::regex: googletest's own on Windows knows no character classes.
  EXPECT_TRUE(std::regex_search(run.out, std::regex("The export took [0-9]+ ms\n$"))) << run.out;
  ExpectLegacyExport(dir.file("source.db"), target, kSurvey);
}

}  // namespace
}  // namespace zx::test
