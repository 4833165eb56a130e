// The program as an operator or a controlling program sees it: the real
// binary, its output, its exit status and its pause.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc/message_queue.hpp"
#include "support/legacy_check.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "zuvexport_version.hpp"

namespace zx {
namespace {

using test::CProcessResult;
using test::RunProcess;

const std::string kPause = "Press any key to continue . . . \n";
const std::string kParameterError = "Error with the program's parameters: ";

std::string Usage() {
  return std::string("Usage: ") + ZUVEXPORT_BIN +
         " [ZuvSource] [SqlFormat] [ConnectString] [SurveyID] [ZuvTarget] [ProgressReportMode]"
         " [ProgressPipeName] [CompletedFilter]";
}

CProcessResult RunExporter(std::vector<std::string> args) {
  return RunProcess(ZUVEXPORT_BIN, args);
}

// The required options with a source that does not exist, so the export
// itself fails whatever the layouts do with it.
std::vector<std::string> Required(const test::CTempDir& dir, const std::string& format = "NEW") {
  return {"--source",
          dir.file("missing.zuv"),
          "--format",
          format,
          "--connectstring",
          "Driver=SQLite3;Database=" + dir.file("missing.db"),
          "--id",
          "1",
          "--target",
          dir.file("target.zuv")};
}

std::vector<std::string> With(std::vector<std::string> args,
                              std::initializer_list<std::string> more) {
  args.insert(args.end(), more);
  return args;
}

struct CFd {
  int fd = -1;
  CFd() = default;
  explicit CFd(int f) : fd(f) {}
  ~CFd() { Close(); }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

bool MakePipe(CFd (&ends)[2]) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  ends[0].fd = fds[0];
  ends[1].fd = fds[1];
  return true;
}

// Reads `fd` until the text read ends with `end`, the writer closes, or 10 s pass.
std::string ReadUntil(int fd, const std::string& end) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (text.size() < end.size() || text.compare(text.size() - end.size(), end.size(), end)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    char c;
    if (read(fd, &c, 1) != 1) break;
    text.push_back(c);
  }
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(FrontendProgram, ParameterErrorsPauseAndFail) {
  {
    // No arguments, and only positional texts: a required option is missing.
    for (const auto& args : {std::vector<std::string>{},
                             std::vector<std::string>{"a.zuv", "NEW", "cs", "1", "b.zuv"}}) {
      auto r = RunExporter(args);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.err.rfind(kParameterError, 0), 0u) << r.err;
      EXPECT_NE(r.err.find("is required but missing"), std::string::npos) << r.err;
      EXPECT_EQ(r.out, kPause);
    }
  }
  {
    // Names are exact: no other case, no abbreviation. UNPAUSE is read too late
    // to spare the pause.
    for (const char* name : {"--Source", "--sour", "--SOURCE"}) {
      auto r = RunExporter({name, "x", "--endpause", "UNPAUSE"});
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.err, kParameterError + "unrecognised option '" + name + "'\n");
      EXPECT_EQ(r.out, kPause);
    }
  }
  {
    test::CTempDir dir;
    auto r = RunExporter(With(Required(dir), {"--id", "2"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind(kParameterError, 0), 0u);
    EXPECT_NE(r.err.find("'--id' cannot be specified more than once"), std::string::npos) << r.err;
    auto missingValue = RunExporter({"--source"});
    EXPECT_EQ(missingValue.exitCode, 1);
    EXPECT_EQ(missingValue.err.rfind(kParameterError, 0), 0u);
  }
  {
    // A controlling program's standard input, open and silent: nobody can
    // answer the pause, so it does not wait.
    CFd in[2];
    ASSERT_TRUE(MakePipe(in));
    test::CProcessOptions options;
    options.inputFd = in[0].fd;
    options.limitMs = 10000;
    auto r = RunProcess(ZUVEXPORT_BIN, {"--bogus", "--endpause", "UNPAUSE"}, options);
    EXPECT_FALSE(r.killedAtLimit);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kPause);
  }
  {
    // A person at a terminal: the pause after a parameter error (UNPAUSE is
    // read too late) waits for a key, and one key ends it.
    CFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(master.fd, 0);
    ASSERT_EQ(grantpt(master.fd), 0);
    ASSERT_EQ(unlockpt(master.fd), 0);
    CFd terminal(open(ptsname(master.fd), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(terminal.fd, 0);
    CFd out[2];
    ASSERT_TRUE(MakePipe(out));
    test::CProcessOptions options;
    options.inputFd = terminal.fd;
    options.outputFd = out[1].fd;
    options.limitMs = 10000;
    test::CChildProcess child(ZUVEXPORT_BIN, {"--bogus", "--endpause", "UNPAUSE"}, options);
    terminal.Close();
    out[1].Close();
    std::string shown = ReadUntil(out[0].fd, kPause.substr(0, kPause.size() - 1));
    EXPECT_EQ(shown, kPause.substr(0, kPause.size() - 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child.Pid()), &info, WEXITED | WNOHANG | WNOWAIT), 0);
    EXPECT_EQ(info.si_pid, 0) << "the pause did not wait for a key";
    ASSERT_EQ(write(master.fd, "x", 1), 1);
    auto r = child.Wait();
    EXPECT_FALSE(r.killedAtLimit);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, kParameterError + "unrecognised option '--bogus'\n");
    EXPECT_EQ(shown + ReadUntil(out[0].fd, "\n"), kPause);
  }
}

TEST(FrontendProgram, HelpListsTheOptionsInOrderAndFails) {
  for (const char* ask : {"--help", "/?", "-help"}) {
    auto r = RunExporter({ask, "--endpause", "UNPAUSE"});
    EXPECT_EQ(r.exitCode, 1) << ask;
    EXPECT_TRUE(r.err.empty());
    ASSERT_EQ(r.out.rfind("Options:\n", 0), 0u) << r.out;
    EXPECT_TRUE(EndsWith(r.out, "\n\n" + kPause)) << r.out;
    size_t at = 0;
    for (const char* option :
         {"-? [ --help ]", "prints this help", "--source arg", "--format arg",
          "--connectstring arg", "--id arg", "--target arg", "--progress arg (=CONSOLE)",
          "--pipe arg", "--completion arg", "--minstartdate arg", "--maxstartdate arg",
          "--endpause arg (=PAUSE)"}) {
      const size_t found = r.out.find(option, at);
      ASSERT_NE(found, std::string::npos) << option << " in order in\n" << r.out;
      at = found;
    }
  }
  {
    // An unknown option wins over the help.
    auto r = RunExporter({"--help", "--bogus"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, kParameterError + "unrecognised option '--bogus'\n");
    EXPECT_EQ(r.out, kPause);
  }
  {
    // --version is no option of the help: each program prints its version,
    // without a pause, and succeeds.
    auto help = RunExporter({"--help", "--endpause", "UNPAUSE"});
    EXPECT_EQ(help.out.find("version"), std::string::npos) << help.out;
    for (auto [program, name] : {std::pair{ZUVEXPORT_BIN, "zuvexport"},
                                 {ZUVSAMPLE_BIN, "zuvsample"},
                                 {ZUVWATCH_BIN, "zuvwatch"}}) {
      auto r = RunProcess(program, {"--version"});
      EXPECT_EQ(r.exitCode, 0) << name;
      EXPECT_EQ(r.out, std::string(name) + " " + ZUVEXPORT_VERSION + "\n");
      EXPECT_TRUE(r.err.empty()) << r.err;
    }
  }
}

TEST(FrontendProgram, RejectedValuesPrintTheUsageLine) {
  test::CTempDir dir;
  {
    auto r = RunExporter(With(Required(dir, "legacy"), {"--endpause", "UNPAUSE"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Error: Invalid Sql Format\n" + Usage());
  }
  {
    // The format is checked first; the pause follows the usage line directly.
    auto r = RunExporter(With(Required(dir, "Legacy"), {"--progress", "FILE"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Error: Invalid Sql Format\n" + Usage() + kPause);
  }
  {
    auto r = RunExporter(With(Required(dir), {"--progress", "console", "--endpause", "UNPAUSE"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Error: Invalid Progress Report Mode\n" + Usage());
  }
  {
    // An empty path is named as such, before anything is looked up.
    for (size_t at : {1u, 9u}) {
      std::vector<std::string> args = Required(dir);
      args[at] = "";
      auto r = RunExporter(With(args, {"--endpause", "UNPAUSE"}));
      EXPECT_EQ(r.exitCode, 1);
      const std::string option = at == 1 ? "source" : "target";
      EXPECT_EQ(r.out, "Error: The option --" + option + " is empty: give the path of the " +
                           option + " ZUV file\n" + Usage());
      EXPECT_EQ(r.err, "");
    }
  }
  {
    // A bad date stops the run before any reporter exists or the target is
    // touched.
    const std::string queue = test::UniqueName("zuvtest_dates_");
    struct Case {
      const char* option;
      const char* text;
    };
    for (auto [option, text] :
         {Case{"--minstartdate", "32/01/2014"}, Case{"--maxstartdate", "2014-01-31"},
          Case{"--minstartdate", "1/1/14"}, Case{"--maxstartdate", "29/02/2015"}}) {
      auto r = RunExporter(With(Required(dir), {option, text, "--progress", "BOOST_MQ", "--pipe",
                                                queue, "--endpause", "UNPAUSE"}));
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.out, std::string("Error: Invalid ") + (option + 2) + " '" + text +
                           "': expected a date as dd/mm/yyyy\n" + Usage());
      EXPECT_FALSE(CMessageQueue::Exists(queue));
      EXPECT_FALSE(std::filesystem::exists(dir.file("target.zuv")));
    }
  }
  {
    // A caller's connection string that cannot be honoured stops the run the
    // same way, the existing target untouched and the password nowhere.
    const std::string queue = test::UniqueName("zuvtest_connect_");
    const std::string target = dir.file("kept.zuv");
    { std::ofstream(target) << "previous export"; }
    std::vector<std::string> args = Required(dir);
    args[5] =
        "Provider=SQLOLEDB.1;Data Source=db01\\SURVEYS;Initial Catalog=Panel;"
        "User ID=exporter;Password=Pa55word;Integrated Security=SSPI";
    args[9] = target;
    auto r = RunExporter(
        With(args, {"--progress", "BOOST_MQ", "--pipe", queue, "--endpause", "UNPAUSE"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              "Error: Invalid connectstring: Windows integrated security is not available here; "
              "write User ID and Password of a SQL Server login instead, or, where Kerberos is "
              "set up, an ODBC string with Trusted_Connection=Yes\n" +
                  Usage());
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(CMessageQueue::Exists(queue));
    std::ifstream kept(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "previous export");
  }
}

TEST(FrontendProgram, OptionFormsAndPositionalTextsAreAccepted) {
  // Each form parses (no parameter error): the run goes on to the format check.
  test::CTempDir dir;
  const std::vector<std::string> rest = {"--connectstring", "cs",         "--id",   "1", "--target",
                                         dir.file("t.zuv"), "--endpause", "UNPAUSE"};
  for (const auto& form : {std::vector<std::string>{"-source", "x", "-format", "bad"},
                           std::vector<std::string>{"/source", "x", "/format", "bad"},
                           std::vector<std::string>{"--source=x", "--format=bad"},
                           std::vector<std::string>{"--source", "x", "--format", "bad"},
                           std::vector<std::string>{"positional", "--source", "x", "more",
                                                    "--format", "bad", "texts"}}) {
    std::vector<std::string> args = form;
    args.insert(args.end(), rest.begin(), rest.end());
    auto r = RunExporter(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(r.out, "Error: Invalid Sql Format\n" + Usage());
  }
}

TEST(FrontendProgram, FailedExportTimesAndPausesUnlessUnpaused) {
  test::CTempDir dir;
  {
    auto r = RunExporter(Required(dir));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("The export took "), std::string::npos) << r.out;
    EXPECT_TRUE(EndsWith(r.out, " ms\n" + kPause)) << r.out;
  }
  {
    auto r = RunExporter(With(Required(dir, "LEGACY"), {"--endpause", "UNPAUSE"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Error: "), std::string::npos) << r.out;
    EXPECT_TRUE(EndsWith(r.out, " ms\n")) << r.out;
    EXPECT_EQ(r.out.find("Press any key"), std::string::npos);
  }
  {
    // A source database that is not there is named, and not created empty.
    test::CTempDir sample;
    test::MakeLegacySample(sample.path(), {"--survey-id", "7", "--interviews", "3"});
    const std::string missing = sample.file("nodir/source.db");
    auto r = RunExporter({"--source", sample.file("survey.zuv"), "--format", "LEGACY",
                          "--connectstring", "Driver=SQLite3;Database=" + missing, "--id", "7",
                          "--target", sample.file("t.zuv"), "--endpause", "UNPAUSE"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("\nError: The source database '" + missing + "' does not exist\n"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(std::filesystem::exists(sample.file("nodir")));
  }
  {
    // A reporter that cannot be made is an export failure, without the duration.
    auto r = RunExporter(With(Required(dir), {"--progress", "BOOST_MQ", "--endpause", "UNPAUSE"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Error: Export failed\n");
    EXPECT_FALSE(r.err.empty());
  }
  {
    // Nobody listens on the pipe: the export's own messages vanish, the front
    // end's duration line stays.
    auto r = RunExporter(With(Required(dir), {"--progress", "NAMED_PIPE", "--pipe",
                                              dir.file("nobody"), "--endpause", "UNPAUSE"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("The export took ", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
  }
}

TEST(FrontendProgram, ZuvwatchFollowsAnExportOnAQueue) {
  test::CTempDir dir;
  const std::string queue = test::UniqueName("zuvtest_watch_");
  auto args = With({"--queue", queue, "--", ZUVEXPORT_BIN}, {});
  auto exporter =
      With(Required(dir), {"--progress", "BOOST_MQ", "--pipe", queue, "--endpause", "UNPAUSE"});
  args.insert(args.end(), exporter.begin(), exporter.end());
  auto r = RunProcess(ZUVWATCH_BIN, args);
  EXPECT_EQ(r.exitCode, 1) << r.err;  // the exporter's status
  EXPECT_NE(r.out.find("Error: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("The export took "), std::string::npos) << r.out;
  EXPECT_FALSE(CMessageQueue::Exists(queue));
}

}  // namespace
}  // namespace zx
