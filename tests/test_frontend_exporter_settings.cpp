// The option texts as the exporter turns them into settings and a reporter.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "export/exporter.hpp"
#include "frontend/options.hpp"
#include "platform/ipc/message_queue.hpp"
#include "reporting/console_reporter.hpp"
#include "reporting/mq_reporter.hpp"
#include "reporting/pipe_reporter.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

struct Texts {
  std::string format = "NEW";
  std::string id = "1";
  std::string progress = "CONSOLE";
  std::string pipe;
  std::string completion;
  std::string minDate;
  std::string maxDate;
};

std::unique_ptr<CExporter> Make(const Texts& t) {
  return std::make_unique<CExporter>("s.zuv", t.format, "cs", t.id, "t.zuv", t.progress, t.pipe,
                                     t.completion, t.minDate, t.maxDate);
}

std::string RejectionOf(const Texts& t) {
  try {
    Make(t);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(FrontendExporterSettings, ConvertsTheTexts) {
  {
    auto e = Make({});
    EXPECT_EQ(e->Settings().sourceFile, "s.zuv");
    EXPECT_EQ(e->Settings().connectString, "cs");
    EXPECT_EQ(e->Settings().targetFile, "t.zuv");
    EXPECT_EQ(e->Settings().sqlFormat, SqlFormat::NEW);
    EXPECT_EQ(e->Settings().progressMode, ProgressReportMode::CONSOLE);
    EXPECT_NE(dynamic_cast<CConsoleProgressReporter*>(e->Settings().reporter.get()), nullptr);
    EXPECT_FALSE(e->Settings().minStartBound);
  }
  {
    Texts t;
    t.format = "LEGACY";
    EXPECT_EQ(Make(t)->Settings().sqlFormat, SqlFormat::LEGACY);
  }
  struct IdCase {
    const char* text;
    int32_t id;
  };
  for (auto [text, id] :
       {IdCase{"12abc", 12}, IdCase{"abc", 0}, IdCase{" -3", -3}, IdCase{"", 0}}) {
    Texts t;
    t.id = text;
    EXPECT_EQ(Make(t)->Settings().surveyId, id) << text;
  }
  struct CompletionCase {
    const char* text;
    CompletionFilter filter;
  };
  for (auto [text, filter] : {CompletionCase{"COMPLETE", CompletionFilter::COMPLETE},
                              CompletionCase{"INCOMPLETE", CompletionFilter::INCOMPLETE},
                              CompletionCase{"Complete", CompletionFilter::NONE},
                              CompletionCase{"ALL", CompletionFilter::NONE},
                              CompletionCase{"", CompletionFilter::NONE}}) {
    Texts t;
    t.completion = text;
    EXPECT_EQ(Make(t)->Settings().completionFilter, filter) << text;
  }
  {
    Texts t;
    t.minDate = "1/2/2014";
    t.maxDate = "31/12/2014";
    auto e = Make(t);
    EXPECT_EQ(e->Settings().minStartDate, "1/2/2014");
    EXPECT_EQ(e->Settings().minStartBound, (CCalendarDate{2014, 2, 1}));
    EXPECT_EQ(e->Settings().maxStartBound, (CCalendarDate{2014, 12, 31}));
  }
}

TEST(FrontendExporterSettings, RejectsTextsInOrderBeforeMakingTheReporter) {
  const std::string queue = test::UniqueName("zuvtest_settings_");
  Texts t;
  t.format = "legacy";
  t.progress = "BOOST_MQ";
  t.pipe = queue;
  t.minDate = "32/01/2014";
  EXPECT_EQ(RejectionOf(t), "Invalid Sql Format");
  t.format = "NEW";
  t.progress = "boost_mq";
  EXPECT_EQ(RejectionOf(t), "Invalid Progress Report Mode");
  t.progress = "BOOST_MQ";
  EXPECT_EQ(RejectionOf(t), "Invalid minstartdate '32/01/2014': expected a date as dd/mm/yyyy");
  t.minDate = "";
  t.maxDate = " 1/1/2014";
  EXPECT_EQ(RejectionOf(t), "Invalid maxstartdate ' 1/1/2014': expected a date as dd/mm/yyyy");
  EXPECT_FALSE(CMessageQueue::Exists(queue));
}

TEST(FrontendExporterSettings, QueueAndPipeReportersLiveWithTheExporter) {
  {
    Texts t;
    t.progress = "BOOST_MQ";
    t.pipe = test::UniqueName("zuvtest_settings_");
    auto e = Make(t);
    EXPECT_EQ(e->Settings().progressMode, ProgressReportMode::BOOST_MQ);
    EXPECT_NE(dynamic_cast<CBoostMqProgressReporter*>(e->Settings().reporter.get()), nullptr);
    EXPECT_TRUE(CMessageQueue::Exists(t.pipe));
    e.reset();
    EXPECT_FALSE(CMessageQueue::Exists(t.pipe));
  }
  {
    test::CTempDir dir;
    Texts t;
    t.progress = "NAMED_PIPE";
    t.pipe = dir.file("nobody");
    auto e = Make(t);
    EXPECT_EQ(e->Settings().progressMode, ProgressReportMode::NAMED_PIPE);
    auto* pipe = dynamic_cast<CNamedPipeProgressReporter*>(e->Settings().reporter.get());
    ASSERT_NE(pipe, nullptr);
#ifdef _WIN32
    // Windows has one namespace for pipes: every name is a pipe's name.
    EXPECT_EQ(pipe->PipePath(), "\\\\.\\pipe\\" + t.pipe);
#else
    EXPECT_EQ(pipe->PipePath(), t.pipe);
#endif
    pipe->ReportInfo("nobody hears this");
  }
}

TEST(FrontendOptions, ReadsEveryFormAndSubstitutesDefaults) {
  auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "zuvexport");
    return ParseProgramOptions(static_cast<int>(args.size()), args.data());
  };
  for (auto args : {std::vector<const char*>{"-source", "x"},
                    {"/source", "x"},
                    {"--source=x"},
                    {"--source", "x"},
                    {"pos", "--source", "x", "pos"}}) {
    for (const char* more :
         {"--format", "F", "--connectstring", "C", "--id", "I", "--target", "T"}) {
      args.push_back(more);
    }
    auto o = parse(args);
    EXPECT_FALSE(o.help);
    EXPECT_EQ(o.source, "x");
    EXPECT_EQ(o.format, "F");
    EXPECT_EQ(o.connectString, "C");
    EXPECT_EQ(o.id, "I");
    EXPECT_EQ(o.target, "T");
    EXPECT_EQ(o.progress, "CONSOLE");
    EXPECT_EQ(o.endPause, "PAUSE");
    EXPECT_EQ(o.pipe, "");
    EXPECT_EQ(o.completion, "");
  }
  {
    auto o = parse(
        {"--source",       "s",        "--format",     "F",        "--connectstring", "C",
         "--id",           "I",        "--target",     "T",        "--progress",      "BOOST_MQ",
         "--pipe",         "q",        "--completion", "COMPLETE", "--minstartdate",  "1/1/2014",
         "--maxstartdate", "2/1/2014", "--endpause",   "UNPAUSE"});
    EXPECT_EQ(o.progress, "BOOST_MQ");
    EXPECT_EQ(o.pipe, "q");
    EXPECT_EQ(o.completion, "COMPLETE");
    EXPECT_EQ(o.minStartDate, "1/1/2014");
    EXPECT_EQ(o.maxStartDate, "2/1/2014");
    EXPECT_EQ(o.endPause, "UNPAUSE");
  }
  {
    // Help needs none of the required options.
    EXPECT_TRUE(parse({"/?"}).help);
    EXPECT_TRUE(parse({"--help", "--source", "x"}).help);
  }
}

}  // namespace
}  // namespace zx
