#include "frontend/options.hpp"

#include <sstream>

#include <boost/program_options.hpp>

namespace zx {
namespace po = boost::program_options;
namespace {

po::options_description MakeDescription() {
  po::options_description desc("Options");
  // Each valued option takes exactly one token: no implicit value, not composing.
  // clang-format off
  desc.add_options()
      ("help,?", "prints this help")
      ("source", po::value<std::string>()->required(), "path of the source ZUV file")
      ("format", po::value<std::string>()->required(), "format of the sql tables: LEGACY or NEW")
      ("connectstring", po::value<std::string>()->required(),
       "connection string to the sql database")
      ("id", po::value<std::string>()->required(), "id of the survey to export")
      ("target", po::value<std::string>()->required(), "path of the target ZUV file")
      ("progress", po::value<std::string>()->default_value("CONSOLE"),
       "progress report mode: CONSOLE or BOOST_MQ or NAMED_PIPE")
      ("pipe", po::value<std::string>(),
       "name of the progress queue or pipe, not used if the progress mode is CONSOLE")
      ("completion", po::value<std::string>(),
       "filter export on interview completion: COMPLETE or INCOMPLETE")
      ("minstartdate", po::value<std::string>(),
       "filter export on interview minimum starting date, format dd/mm/yyyy, inclusive")
      ("maxstartdate", po::value<std::string>(),
       "filter export on interview maximum starting date, format dd/mm/yyyy, exclusive")
      ("endpause", po::value<std::string>()->default_value("PAUSE"),
       "pause behaviour at the end of export: PAUSE or UNPAUSE");
  // clang-format on
  return desc;
}

// allow_long | allow_short | allow_slash_for_short | long_allow_adjacent |
// long_allow_next | short_allow_adjacent | short_allow_next | allow_sticky |
// allow_long_disguise (0x11FB); no allow_guessing, so names are never
// abbreviated, and no case-insensitive flags.
constexpr int kStyle =
    po::command_line_style::allow_long | po::command_line_style::allow_short |
    po::command_line_style::allow_slash_for_short | po::command_line_style::long_allow_adjacent |
    po::command_line_style::long_allow_next | po::command_line_style::short_allow_adjacent |
    po::command_line_style::short_allow_next | po::command_line_style::allow_sticky |
    po::command_line_style::allow_long_disguise;
static_assert(kStyle == 0x11FB);

std::string TextOr(const po::variables_map& map, const char* name, const char* otherwise) {
  auto it = map.find(name);
  if (it == map.end() || it->second.defaulted()) return otherwise;
  return it->second.as<std::string>();
}

}  // namespace

std::string OptionsHelpText() {
  std::ostringstream text;
  text << MakeDescription();
  return text.str();
}

CProgramOptions ParseProgramOptions(int argc, const char* const argv[]) {
  const po::options_description desc = MakeDescription();
  po::variables_map map;
  // No positional description: the parser keeps tokens that are not options
  // as nameless entries, and store() skips them.
  po::store(po::command_line_parser(argc, argv).options(desc).style(kStyle).run(), map);

  CProgramOptions options;
  if (map.count("help")) {
    options.help = true;
    return options;
  }
  po::notify(map);
  options.source = map["source"].as<std::string>();
  options.format = map["format"].as<std::string>();
  options.connectString = map["connectstring"].as<std::string>();
  options.id = map["id"].as<std::string>();
  options.target = map["target"].as<std::string>();
  options.progress = TextOr(map, "progress", "CONSOLE");
  options.pipe = TextOr(map, "pipe", "");
  options.completion = TextOr(map, "completion", "");
  options.minStartDate = TextOr(map, "minstartdate", "");
  options.maxStartDate = TextOr(map, "maxstartdate", "");
  options.endPause = TextOr(map, "endpause", "PAUSE");
  return options;
}

}  // namespace zx
