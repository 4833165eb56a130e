// Faults around the target file: failed writes, syncs, truncations and
// deletions at every point an export reaches, failed file steps, a second
// export to the same target, leftovers of killed exports, a target that is
// the source, and termination signals to the real program. After each, the
// previous target is as it was, nothing is left beside it and the next
// export succeeds.
#include <gtest/gtest.h>
#include <sqlite3.h>
#ifndef _WIN32
#include <signal.h>
#endif

#include <fmt/format.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>

#include "export/exporter.hpp"
#include "platform/error.hpp"
#include "platform/files.hpp"
#include "platform/zuv/fault_injection.hpp"
#include "support/process.hpp"
#include "support/recording_reporter.hpp"
#include "support/sqlite_values.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

// "ok" for a sound SQLite file, else what is wrong with it.
std::string IntegrityOf(const std::string& path) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    } else {
      result = sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return result;
}

class TargetFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test::CTempDir();
    const test::CProcessResult sample = test::RunProcess(
        ZUVSAMPLE_BIN, {"--out-dir", s_dir->path(), "--survey-id", "12", "--interviews", "6",
                        "--questions", "4", "--loops", "0", "--tables", "1", "--layout", "both"});
    ASSERT_EQ(sample.exitCode, 0) << sample.err;
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }

  void SetUp() override {
    m_out = s_dir->file(test::UniqueName("out"));
    fs::create_directory(m_out);
    m_target = m_out + "/t.zuv";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_out, ec);
  }

  static std::string Zuv() { return s_dir->file("survey.zuv"); }
  static std::string Db() { return s_dir->file("source.db"); }

  int Export(const std::string& format = "NEW", std::string source = "", std::string target = "") {
    CExporter exporter(source.empty() ? Zuv() : source, format, test::SqliteConnectString(Db()),
                       "12", target.empty() ? m_target : target, "CONSOLE", "", "", "", "");
    auto recording = std::make_unique<test::CRecordingReporter>();
    test::CRecordingReporter& reporter = *recording;
    exporter.SetReporter(std::move(recording));
    const int result =
        format == "NEW" ? exporter.ExportFromSqlNew() : exporter.ExportFromSqlLegacy();
    m_infos = reporter.Infos();
    m_errors = reporter.Errors();
    return result;
  }

  std::string Errors() const {
    std::string all;
    for (const std::string& e : m_errors) all += e + "\n";
    return all;
  }

  // After a failed run: the previous target as it was, nothing beside it, and
  // the next run succeeds. A fault SQLite recovered from (it retries a failed
  // commit) may instead end in success, with exactly the file a clean run writes.
  bool EndedSoundly(int result, const std::string& previous, std::string& why,
                    const std::string* clean = nullptr) {
    if (result == 0 && clean != nullptr) {
      if (test::ReadFileBytes(m_target) != *clean)
        why = "succeeded with a different target";
      else if (Listing(m_out) != std::set<std::string>{"t.zuv"})
        why = "success left files";
      else
        return true;
      return false;
    }
    if (result != 1)
      why = fmt::format("result {}", result);
    else if (m_errors.empty())
      why = "no error reported";
    else if (test::ReadFileBytes(m_target) != previous)
      why = "previous target changed";
    else if (Listing(m_out) != std::set<std::string>{"t.zuv"})
      why = "files left beside the target";
    else if (Export() != 0)
      why = "next run failed: " + Errors();
    else if (Listing(m_out) != std::set<std::string>{"t.zuv"})
      why = "next run left files";
    else
      return true;
    return false;
  }

  static test::CTempDir* s_dir;
  std::string m_out;
  std::string m_target;
  std::vector<std::string> m_infos;
  std::vector<std::string> m_errors;
};

test::CTempDir* TargetFaults::s_dir = nullptr;

TEST_F(TargetFaults, EveryFailedFileOperationOfSqliteLeavesThePreviousTarget) {
  ASSERT_EQ(Export(), 0) << Errors();
  const std::string prefix = fs::absolute(m_target).string();
  const std::pair<ZuvFileOperation, const char*> operations[] = {
      {ZuvFileOperation::Write, "write"},
      {ZuvFileOperation::Sync, "sync"},
      {ZuvFileOperation::Truncate, "truncate"},
      {ZuvFileOperation::Delete, "delete"}};
  for (const auto& [operation, name] : operations) {
    SetZuvFileFaults({prefix, operation, 0, false});
    const int counted = Export();
    ClearZuvFileFaults();
    ASSERT_EQ(counted, 0) << Errors();
    const std::string clean = test::ReadFileBytes(m_target);
    const int reached = ZuvFileOperationCount(operation);
    // Every point; an even spread of them should a change make them many.
    const int step = std::max(1, reached / 60);
    int tried = 0;
    int sound = 0;
    int recovered = 0;
    for (int n = 1; n <= reached; n += step) {
      for (bool persistent : {false, true}) {
        const std::string previous = test::ReadFileBytes(m_target);
        SetZuvFileFaults({prefix, operation, n, persistent});
        const int result = Export();
        ClearZuvFileFaults();
        std::string why;
        ++tried;
        if (EndedSoundly(result, previous, why, persistent ? nullptr : &clean)) {
          if (result == 0) ++recovered;
          ++sound;
        } else {
          ADD_FAILURE() << name << " " << n << (persistent ? " for good: " : " once: ") << why
                        << "\n"
                        << Errors();
        }
      }
    }
    std::cout << "[ faults ] " << name << ": " << reached << " reached, " << tried << " runs, "
              << sound << " sound (" << recovered << " recovered)\n";
  }
}

TEST_F(TargetFaults, EveryFailedFileStepLeavesThePreviousTarget) {
  ASSERT_EQ(Export("LEGACY"), 0) << Errors();
  for (const char* failing : {"copy", "sync", "rename"}) {
    int reached = 0;
    SetFileFaultHook([&](std::string_view step, const std::string&) {
      if (step == failing) ++reached;
      return 0;
    });
    ASSERT_EQ(Export("LEGACY"), 0) << Errors();
    for (int n = 1; n <= reached; ++n) {
      const std::string previous = test::ReadFileBytes(m_target);
      int seen = 0;
      std::string failedPath;
      SetFileFaultHook([&](std::string_view step, const std::string& path) {
        if (step != failing || ++seen != n) return 0;
        failedPath = path;
        return EIO;
      });
      const int result = Export("LEGACY");
      SetFileFaultHook(nullptr);
      const std::string errors = Errors();
      EXPECT_EQ(errors.find(".work"), std::string::npos) << errors;
      EXPECT_EQ(errors.find(".tmp"), std::string::npos) << errors;
      if (std::string_view(failing) == "copy") {
        EXPECT_EQ(m_errors,
                  (std::vector<std::string>{"Could not create Zuv target file from Zuv source file",
                                            SystemErrorText(EIO)}));
      }
      if (std::string_view(failing) == "sync" && fs::is_directory(failedPath)) {
        // The folder's sync comes after the rename: the new target is in
        // place, and the failure says so.
        EXPECT_EQ(result, 1);
        EXPECT_NE(errors.find("was replaced"), std::string::npos) << errors;
        EXPECT_EQ(Listing(m_out), std::set<std::string>{"t.zuv"});
        EXPECT_EQ(IntegrityOf(m_target), "ok");
        continue;
      }
      std::string why;
      EXPECT_TRUE(EndedSoundly(result, previous, why)) << failing << " " << n << ": " << why << "\n"
                                                       << errors;
    }
    std::cout << "[ faults ] " << failing << ": " << reached << " reached\n";
  }
}

TEST_F(TargetFaults, LocksLeftoversSideFilesAndTheSourceAsTarget) {
  {
    // A second export to a locked target fails at once, naming the target and the holder.
    ASSERT_EQ(Export(), 0) << Errors();
    const std::string previous = test::ReadFileBytes(m_target);
    {
      CTargetLock other(m_target);
      EXPECT_EQ(Export(), 1);
      EXPECT_EQ(m_errors, (std::vector<std::string>{
                              fmt::format("The target file '{}' is being written by another export "
                                          "(process {})",
                                          m_target, test::OwnProcessId())}));
      EXPECT_EQ(test::ReadFileBytes(m_target), previous);
    }
    EXPECT_EQ(Listing(m_out), std::set<std::string>{"t.zuv"});
  }
  {
    // What a killed export left goes, and says so; so does the previous
    // target's hot journal, which would otherwise roll the new file back.
    const std::string journal = m_target + "-journal";
    {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(m_target.c_str(), &db), SQLITE_OK);
      sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN; DELETE FROM [ORV Reponse1];", nullptr, nullptr,
                   nullptr);
      fs::copy_file(journal, m_out + "/saved");
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      fs::rename(m_out + "/saved", journal);
    }
    for (const char* name : {"t.zuv.123.0.work", "t.zuv.123.0.work-journal", "t.zuv.tmp"}) {
      std::ofstream(m_out + "/" + name) << "junk";
    }
    std::ofstream(m_out + "/t.zuv.lock", std::ios::binary)
        << "123\n";  // as a killed export leaves it
    std::ofstream(m_out + "/t.zuv.notes") << "kept";
    ASSERT_EQ(Export(), 0) << Errors();
    EXPECT_EQ(Listing(m_out), (std::set<std::string>{"t.zuv", "t.zuv.notes"}));
    EXPECT_EQ(IntegrityOf(m_target), "ok");
    std::string infos;
    for (const std::string& i : m_infos) infos += i + "\n";
    EXPECT_NE(infos.find("Removed files left by an earlier export: "), std::string::npos);
    EXPECT_NE(infos.find(m_target + ".123.0.work-journal"), std::string::npos) << infos;
    EXPECT_NE(infos.find("Removed the previous target's side files: " + journal), std::string::npos)
        << infos;
  }
  {
    // Without a stopped export's lock, files of an export's names are not
    // known to be one's: none is removed or changed, and one in the way of
    // the export's own files stops it before anything is written.
    std::ofstream(m_out + "/t.zuv.7.0.work") << "mine";
    std::ofstream(m_out + "/t.zuv.tmp") << "mine";
    EXPECT_EQ(Export(), 1);
    EXPECT_EQ(m_errors, (std::vector<std::string>{fmt::format(
                            "The file '{}.tmp' is in the way of the export to '{}', which writes "
                            "its compacted copy there, and no earlier export is known to have "
                            "left it; move or remove it",
                            m_target, m_target)}));
    fs::remove(m_out + "/t.zuv.tmp");
    struct CNotALock {
      const char* content;
      const char* why;
    };
    for (const auto& [content, why] :
         {CNotALock{"my notes\n", "a file with other content"}, CNotALock{"", "a symbolic link"},
          CNotALock{"12\n", "a file with other names"}}) {
      const std::string lock = m_target + ".lock";
      const std::string mine = m_out + "/mine.txt";
      std::ofstream(mine) << (*content != 0 ? content : "linked to");
      if (std::string_view(why) == "a symbolic link") {
        // Windows lets only privileged users make links; Wine makes none.
        std::error_code noLink;
        fs::create_symlink(mine, lock, noLink);
        if (noLink) {
          fs::remove(mine);
          continue;
        }
      } else if (std::string_view(why) == "a file with other names") {
        fs::create_hard_link(mine, lock);
      } else {
        fs::rename(mine, lock);
      }
      const std::string before = test::ReadFileBytes(lock);
      EXPECT_EQ(Export(), 1) << why;
      EXPECT_EQ(m_errors, (std::vector<std::string>{fmt::format(
                              "The file '{}' is in the way of the lock on the target file '{}': "
                              "it is {}, not the lock file of an export; move or remove it",
                              lock, m_target, why)}));
      EXPECT_EQ(test::ReadFileBytes(lock), before) << why;
      fs::remove(lock);
      fs::remove(mine);
    }
    ASSERT_EQ(Export(), 0) << Errors();
    EXPECT_EQ(Listing(m_out), (std::set<std::string>{"t.zuv", "t.zuv.notes", "t.zuv.7.0.work"}));
    fs::remove(m_out + "/t.zuv.7.0.work");
  }
  {
    // Folders where files belong, each named as the cause.
    fs::create_directory(m_out + "/folder");
    EXPECT_EQ(Export("NEW", m_out + "/folder"), 1);
    EXPECT_EQ(m_errors, (std::vector<std::string>{
                            "Could not create Zuv target file from Zuv source file",
                            "The source file '" + m_out + "/folder' is a folder, not a ZUV file"}));
    EXPECT_EQ(Export("NEW", "", m_out + "/folder"), 1);
    EXPECT_EQ(m_errors, (std::vector<std::string>{"The target file '" + m_out +
                                                  "/folder' is a folder; name a file in it "
                                                  "instead"}));
    EXPECT_TRUE(fs::is_empty(m_out + "/folder"));
    fs::remove(m_out + "/folder");
  }
  {
    // A target folder that does not exist: the copy's report, with the bare system text.
    EXPECT_EQ(Export("NEW", "", m_out + "/missing/t.zuv"), 1);
    EXPECT_EQ(m_errors, (std::vector<std::string>{
                            "Could not create Zuv target file from Zuv source file",
#ifdef _WIN32
                            // a missing folder is ERROR_PATH_NOT_FOUND there
                            SystemErrorText(std::error_code(3, std::system_category()))}));
#else
                            SystemErrorText(ENOENT)}));
#endif
  }
  {
    // A source that is no ZUV file is named as the user gave it, not as its private copy.
    const std::string junk = m_out + "/junk.zuv";
    std::ofstream(junk) << std::string(4096, 'x');
    EXPECT_EQ(Export("NEW", junk), 1);
    const std::string errors = Errors();
    EXPECT_NE(errors.find(junk), std::string::npos) << errors;
    EXPECT_EQ(errors.find(".work"), std::string::npos) << errors;
    fs::remove(junk);
  }
  {
    // The source as the target, by any name, is refused before anything is written.
    const std::string source = m_out + "/source.zuv";
    fs::copy_file(Zuv(), source);
    std::vector<std::string> sameNames = {source, m_out + "/./source.zuv"};
    // Wine makes no symbolic links.
    std::error_code noLink;
    fs::create_symlink(source, m_out + "/link.zuv", noLink);
    if (!noLink) sameNames.push_back(m_out + "/link.zuv");
    const std::string before = test::ReadFileBytes(source);
    for (const std::string& target : sameNames) {
      EXPECT_EQ(Export("NEW", source, target), 1) << target;
      ASSERT_EQ(m_errors.size(), 1u) << target;
      EXPECT_EQ(m_errors[0],
                fmt::format("The target file '{}' is the source file '{}'", target, source));
      EXPECT_EQ(test::ReadFileBytes(source), before);
    }
  }
  {
    // So is a source that is one of the files the export keeps beside the
    // target, by its name in any spelling or by a link: it stays as it was.
    const std::string dirName = fs::path(m_out).filename().string();
    const std::string source = m_out + "/source.zuv";
    const std::string before = test::ReadFileBytes(source);
    struct CCase {
      std::string given;  // the source as the user writes it
      std::string link;   // made beside the target, to the source, when not empty
      std::string kept;   // the name the message gives
    };
    const CCase cases[] = {
        {m_target + ".tmp", "", m_target + ".tmp"},
        {m_out + "/./t.zuv.lock", "", m_target + ".lock"},
        {m_out + "/../" + dirName + "/t.zuv-journal", "", m_target + "-journal"},
        {m_target + "-wal", "", m_target + "-wal"},
        {m_target + ".tmp-shm", "", m_target + ".tmp-shm"},
        {m_target + ".99.3.work", "", m_target + ".99.3.work"},
        {source, m_target + ".tmp", m_target + ".tmp"},
        {source, m_target + ".lock", m_target + ".lock"},
        {source, m_target + ".5.1.work", m_target + ".5.1.work"},
        {m_out + "/link.zuv", m_target + "-journal", m_target + "-journal"},
    };
    for (bool hard : {false, true}) {
      for (const CCase& c : cases) {
        if (c.link.empty()) {
          if (hard) continue;
          fs::copy_file(source, c.given);
        } else if (hard) {
          fs::create_hard_link(source, c.link);
        } else {
          std::error_code noLink;
          fs::create_symlink(source, c.link, noLink);
          if (noLink) continue;
        }
        // Without links the case's given name may not exist either.
        if (!fs::exists(c.given)) {
          fs::remove(c.link);
          continue;
        }
        const std::string given = test::ReadFileBytes(c.given);
        const std::set<std::string> files = Listing(m_out);
        EXPECT_EQ(Export("NEW", c.given, m_target), 1) << c.given;
        EXPECT_EQ(m_errors, (std::vector<std::string>{fmt::format(
                                "The source file '{}' is '{}', a file the export to '{}' writes "
                                "and removes; give the source another name or choose another "
                                "target",
                                c.given, c.kept, m_target)}))
            << c.given << " " << c.link;
        EXPECT_EQ(test::ReadFileBytes(c.given), given) << c.given;
        EXPECT_EQ(test::ReadFileBytes(source), before);
        EXPECT_EQ(Listing(m_out), files) << c.given;
        fs::remove(c.link.empty() ? c.given : c.link);
      }
    }
  }
}

// A source in WAL mode, open in another program with committed changes not
// yet checkpointed: the copy holds what SQLite reads there, and keeps the
// file's settings, tables, views and indexes.
TEST_F(TargetFaults, SourceOpenInWalModeIsCopiedAsSqliteReadsIt) {
  const std::string source = m_out + "/source.zuv";
  fs::copy_file(Zuv(), source);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(source.c_str(), &db), SQLITE_OK);
  auto run = [&](const char* sql) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << sql << ": " << error;
    sqlite3_free(error);
  };
  run("PRAGMA page_size=8192; VACUUM; PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0");
  run("PRAGMA application_id=1515540001; PRAGMA user_version=7;"
      "CREATE TABLE Notes (Id INTEGER PRIMARY KEY, Text TEXT);"
      "CREATE INDEX NotesByText ON Notes (Text);"
      "CREATE VIEW NotesView AS SELECT Text FROM Notes;"
      "INSERT INTO Notes (Text) VALUES ('kept');"
      "UPDATE Questionnaire SET Libelle = 'Written in the log' WHERE Position = "
      "(SELECT min(Position) FROM Questionnaire)");
  ASSERT_GT(fs::file_size(source + "-wal"), 0u);
  const std::string main = test::ReadFileBytes(source);
  const std::string log = test::ReadFileBytes(source + "-wal");

  const test::CProcessResult r =
      test::RunProcess(ZUVEXPORT_BIN, {"--source", source, "--format", "NEW", "--connectstring",
                                       "Driver=SQLite3;Database=" + Db(), "--id", "12", "--target",
                                       m_target, "--endpause", "UNPAUSE"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(test::ReadFileBytes(source), main);
  EXPECT_EQ(test::ReadFileBytes(source + "-wal"), log);
  sqlite3_close(db);
  EXPECT_EQ(Listing(m_out), (std::set<std::string>{"t.zuv", "source.zuv"}));

  sqlite3* target = nullptr;
  ASSERT_EQ(sqlite3_open_v2(m_target.c_str(), &target, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  auto text = [&](const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    std::string value = "(none)";
    if (sqlite3_prepare_v2(target, sql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    return value;
  };
  EXPECT_EQ(text("SELECT Libelle FROM Questionnaire ORDER BY Position LIMIT 1"),
            "Written in the log");
  EXPECT_EQ(text("PRAGMA page_size"), "8192");
  EXPECT_EQ(text("PRAGMA application_id"), "1515540001");
  EXPECT_EQ(text("PRAGMA user_version"), "7");
  EXPECT_EQ(text("PRAGMA journal_mode"), "delete");
  EXPECT_EQ(text("SELECT Text FROM NotesView"), "kept");
  EXPECT_EQ(text("SELECT count(*) FROM sqlite_schema WHERE name IN ('NotesByText', 'NotesView')"),
            "2");
  sqlite3_close(target);
  EXPECT_EQ(IntegrityOf(m_target), "ok");
}

#ifndef _WIN32
// The real program, stopped by a signal at a stage its output shows (POSIX
// signals; Windows' console events are not delivered under Wine).
TEST_F(TargetFaults, SignalsStopTheProgramAndKillLeavesWhatTheNextRunRemoves) {
  const std::string big = s_dir->file("big");
  fs::create_directory(big);
  const std::string command = std::string(ZUVSAMPLE_BIN) + " --out-dir " + big +
                              " --survey-id 12 --interviews 2500 --questions 24 --loops 1"
                              " --tables 3 --layout new > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string log = m_out + "/../" + fs::path(m_out).filename().string() + ".log";
  auto start = [&] {
    fs::remove(log);  // the stage is looked for in this run's output only
    const std::string shell = fmt::format(
        "exec {} --source {}/survey.zuv --format NEW --connectstring 'Driver=SQLite3;Database="
        "{}/source.db' --id 12 --target {} --endpause UNPAUSE > {} 2>&1",
        ZUVEXPORT_BIN, big, big, m_target, log);
    return std::make_unique<test::CChildProcess>("/bin/sh", std::vector<std::string>{"-c", shell});
  };
  {
    auto child = start();
    ASSERT_EQ(child->Wait().exitCode, 0) << test::ReadFileBytes(log);
  }
  const std::string previous = test::ReadFileBytes(m_target);
  struct CStage {
    const char* shownAt;
    int signal;
  };
  const CStage stages[] = {{"Creating Target Zuv Structure...", SIGINT},
                           {"[Write Thread] Beginning Writes on table number 1", SIGTERM},
                           {"Recompacting Zuv File...", SIGHUP},
                           {"[Write Thread] Beginning Writes on table number 2", SIGKILL}};
  for (const CStage& stage : stages) {
    auto child = start();
    ASSERT_TRUE(test::WaitUntil(
        [&] { return test::ReadFileBytes(log).find(stage.shownAt) != std::string::npos; }, 60000))
        << test::ReadFileBytes(log);
    if (stage.signal == SIGTERM) {
      // A second export to the same target fails at once and names the first.
      const test::CProcessResult second =
          test::RunProcess(ZUVEXPORT_BIN, {"--source", Zuv(), "--format", "NEW", "--connectstring",
                                           "Driver=SQLite3;Database=" + Db(), "--id", "12",
                                           "--target", m_target, "--endpause", "UNPAUSE"});
      EXPECT_EQ(second.exitCode, 1);
      EXPECT_NE(second.out.find(fmt::format("Error: The target file '{}' is being written by "
                                            "another export (process {})\n",
                                            m_target, child->Pid())),
                std::string::npos)
          << second.out;
    }
    const auto sent = std::chrono::steady_clock::now();
    ::kill(child->Pid(), stage.signal);
    const test::CProcessResult r = child->Wait();
    EXPECT_EQ(r.signal, stage.signal == SIGKILL ? SIGKILL : 0);
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - sent)
                            .count();
    const std::string out = test::ReadFileBytes(log);
    std::cout << "[ signal ] " << strsignal(stage.signal) << " at '" << stage.shownAt
              << "': stopped in " << stopMs << " ms, exit " << r.exitCode << "\n";
    if (stage.signal == SIGKILL) {
      EXPECT_EQ(r.signal, SIGKILL);
      EXPECT_EQ(test::ReadFileBytes(m_target), previous);
      EXPECT_NE(Listing(m_out), std::set<std::string>{"t.zuv"});  // its work files stay
      auto next = start();
      EXPECT_EQ(next->Wait().exitCode, 0) << test::ReadFileBytes(log);
      EXPECT_NE(test::ReadFileBytes(log).find("Removed files left by an earlier export: "),
                std::string::npos);
      EXPECT_EQ(Listing(m_out), std::set<std::string>{"t.zuv"});
      continue;
    }
    if (r.exitCode == 0) {
      // The signal came after the target was replaced: a finished export.
      EXPECT_EQ(stage.signal, SIGHUP) << out;
      EXPECT_EQ(IntegrityOf(m_target), "ok");
    } else {
      EXPECT_EQ(r.exitCode, 128 + stage.signal) << out;
      EXPECT_NE(out.find("Error: Export interrupted\n"), std::string::npos) << out;
      EXPECT_EQ(out.find("Error at"), std::string::npos) << out;
      EXPECT_EQ(test::ReadFileBytes(m_target), previous);
    }
    EXPECT_EQ(Listing(m_out), std::set<std::string>{"t.zuv"});
  }
  {
    // A file size limit (512-byte blocks) below the copy's size and above: an error on the normal
    // path (no SIGXFSZ), the previous target kept, nothing left.
    for (const char* blocks : {"16", "40"}) {
      const std::string shell = fmt::format(
          "ulimit -f {}; exec {} --source {} --format NEW --connectstring 'Driver=SQLite3;"
          "Database={}' --id 12 --target {} --endpause UNPAUSE",
          blocks, ZUVEXPORT_BIN, Zuv(), Db(), m_target);
      const test::CProcessResult r = test::RunProcess("/bin/sh", {"-c", shell});
      EXPECT_EQ(r.exitCode, 1) << blocks << "\n" << r.out << r.err;
      EXPECT_NE(r.out.find("Error: "), std::string::npos) << r.out;
      EXPECT_NE(r.out.find(SystemErrorText(EFBIG)), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find(".work"), std::string::npos) << r.out;
      EXPECT_EQ(test::ReadFileBytes(m_target), previous);
      EXPECT_EQ(Listing(m_out), std::set<std::string>{"t.zuv"});
    }
  }
  fs::remove(log);
}
#endif

}  // namespace
}  // namespace zx
