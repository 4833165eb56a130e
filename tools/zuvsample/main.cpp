// zuvsample: writes a sample survey for zuvexport — a source ZUV file and a
// source database holding the same answers in the legacy and the new layout,
// and on request the same tables as a T-SQL script for SQL Server.
#include <fmt/format.h>

#include <boost/program_options.hpp>
#include <filesystem>
#include <iostream>
#include <limits>
#include <stdexcept>

#include "sample_survey.hpp"
#include "source_layout.hpp"
#include "writers.hpp"
#include "zuvexport_version.hpp"

namespace po = boost::program_options;
using zx::sample::CSampleOptions;

namespace {

constexpr int kExitBadOptions = 2;

struct CUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

template <typename T>
void CheckRange(const char* name, T value, T low, T high) {
  if (value < low || value > high)
    throw CUsageError(
        fmt::format("--{} must be between {} and {} (got {})", name, low, high, value));
}

void CheckShare(const char* name, double value) {
  if (!(value >= 0.0 && value <= 1.0))
    throw CUsageError(fmt::format("--{} must be a share between 0 and 1 (got {})", name, value));
}

CSampleOptions ParseOptions(int argc, char** argv, bool& help, po::options_description& desc) {
  CSampleOptions o;
  std::string layout = "both";
  int64_t surveyId = o.surveyId;
  desc.add_options()("help,?", "print this help")("out-dir",
                                                  po::value(&o.outDir)->default_value(o.outDir),
                                                  "folder of survey.zuv and source.db")(
      "survey-id", po::value(&surveyId)->default_value(surveyId), "survey id of the source tables")(
      "interviews", po::value(&o.interviews)->default_value(o.interviews), "number of interviews")(
      "questions", po::value(&o.questions)->default_value(o.questions),
      "questions carrying data, those inside loops included")(
      "multiple-share", po::value(&o.multipleShare)->default_value(o.multipleShare, "0.25"),
      "share of multiple-choice questions")(
      "numeric-share", po::value(&o.numericShare)->default_value(o.numericShare, "0.15"),
      "share of numeric questions")("open-share",
                                    po::value(&o.openShare)->default_value(o.openShare, "0.15"),
                                    "share of open-text questions (the rest are single choice)")(
      "loops", po::value(&o.loops)->default_value(o.loops),
      "one-level loops, alternately over the answers of a multiple choice and numbered")(
      "nested-loops", po::value(&o.nestedLoops)->default_value(o.nestedLoops),
      "two-level numbered loops")(
      "split-share", po::value(&o.splitShare)->default_value(o.splitShare, "0.25"),
      "share of multiple-choice questions split across tables (at least one when > 0)")(
      "tables", po::value(&o.tables)->default_value(o.tables),
      "response tables of the top-level questions (each loop level adds its own)")(
      "semi-open", po::value(&o.semiOpen)->default_value(o.semiOpen), "semi-open answers")(
      "complete-share", po::value(&o.completeShare)->default_value(o.completeShare, "0.8"),
      "share of complete interviews")("start-date",
                                      po::value(&o.startDate)->default_value(o.startDate),
                                      "first interview day, YYYY-MM-DD")(
      "days", po::value(&o.days)->default_value(o.days), "days the interview starts spread over")(
      "orphan-table", po::bool_switch(&o.orphanTable),
      "send the last part of a split question to a table after all others, leaving the table "
      "between empty (needs --tables 2 or more and --split-share above 0)")(
      "sparse-ids", po::bool_switch(&o.sparseIds),
      "ids with gaps, from 100000 (interviews) and 10000 (questions)")(
      "null-share", po::value(&o.nullShare)->default_value(o.nullShare, "0.05"),
      "share of NULL answers and interview fields")(
      "seed", po::value(&o.seed)->default_value(o.seed),
      "random seed; the same seed gives the same files")(
      "sql-script", po::value(&o.sqlScript), "also write the source tables as a T-SQL script")(
      "layout", po::value(&layout)->default_value(layout), "source layouts: both, legacy or new");
  po::variables_map vm;
  try {
    po::store(po::command_line_parser(argc, argv).options(desc).run(), vm);
    po::notify(vm);
  } catch (const po::error& e) {
    throw CUsageError(e.what());
  }
  help = vm.count("help") > 0;
  CheckRange<int64_t>("survey-id", surveyId, 1, std::numeric_limits<int32_t>::max());
  o.surveyId = int32_t(surveyId);
  CheckRange<int64_t>("interviews", o.interviews, 0, 10'000'000);
  CheckRange("questions", o.questions, 1, 100'000);
  CheckRange("loops", o.loops, 0, 100);
  CheckRange("nested-loops", o.nestedLoops, 0, 100);
  CheckRange("tables", o.tables, 1, 200);
  CheckRange("semi-open", o.semiOpen, 0, 1'000'000);
  CheckRange("days", o.days, 1, 36'500);
  for (auto [name, share] : {std::pair{"multiple-share", o.multipleShare},
                             {"numeric-share", o.numericShare},
                             {"open-share", o.openShare},
                             {"split-share", o.splitShare},
                             {"complete-share", o.completeShare},
                             {"null-share", o.nullShare}})
    CheckShare(name, share);
  if (o.multipleShare + o.numericShare + o.openShare > 1.0 + 1e-9)
    throw CUsageError("--multiple-share, --numeric-share and --open-share add up to more than 1");
  if (!zx::sample::ParseIsoDate(o.startDate))
    throw CUsageError(
        fmt::format("--start-date must be a date written YYYY-MM-DD (got '{}')", o.startDate));
  if (layout == "legacy")
    o.writeNew = false;
  else if (layout == "new")
    o.writeLegacy = false;
  else if (layout != "both")
    throw CUsageError(fmt::format("--layout must be both, legacy or new (got '{}')", layout));
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  if (zx::PrintVersionIfAsked(argc, argv, "zuvsample")) return 0;
  po::options_description desc("Usage: zuvsample [options]\nOptions");
  CSampleOptions options;
  try {
    bool help = false;
    options = ParseOptions(argc, argv, help, desc);
    if (help) {
      std::cout << desc << '\n';
      return 0;
    }
  } catch (const CUsageError& e) {
    std::cerr << "zuvsample: " << e.what() << "\nTry 'zuvsample --help'.\n";
    return kExitBadOptions;
  }

  try {
    zx::sample::CSampleSurvey survey(options);
    std::filesystem::create_directories(options.outDir);
    const std::filesystem::path dir(options.outDir);
    const std::string zuvPath = (dir / "survey.zuv").string();
    const std::string dbPath = (dir / "source.db").string();
    zx::sample::WriteZuvFile(survey, zuvPath);
    zx::sample::CSourceLayout layout(survey, options);
    const int64_t values = zx::sample::WriteSourceDatabase(layout, dbPath);
    if (!options.sqlScript.empty()) zx::sample::WriteSqlScript(layout, options.sqlScript);
    fmt::print(
        "zuvsample: survey {} (seed {}): {} interviews, {} questionnaire rows, {} response "
        "tables, {} values; wrote {}, {} ({}){}{}\n",
        options.surveyId, options.seed, options.interviews, survey.Elements().size(),
        survey.Tables().size(), values, zuvPath, dbPath,
        options.writeLegacy && options.writeNew ? "both layouts"
        : options.writeLegacy                   ? "legacy layout"
                                                : "new layout",
        options.sqlScript.empty() ? "" : ", ", options.sqlScript);
    return 0;
  } catch (const std::invalid_argument& e) {
    std::cerr << "zuvsample: " << e.what() << '\n';
    return kExitBadOptions;
  } catch (const std::exception& e) {
    std::cerr << "zuvsample: " << e.what() << '\n';
    return 1;
  }
}
