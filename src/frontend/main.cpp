#include <clocale>
#include <string>
#include <vector>

#include "frontend/program.hpp"
#include "platform/console.hpp"
#include "platform/interruption.hpp"
#include "zuvexport_version.hpp"

int main(int argc, char* argv[]) {
  if (zx::PrintVersionIfAsked(argc, argv, "zuvexport")) return 0;
  // Reports to controlling programs are converted to the user's character
  // set; numbers and collation stay in the C locale.
  std::setlocale(LC_CTYPE, "");
  zx::IgnoreWriteSignals();
  // The option texts are UTF-8 inside, whatever the system's code page.
  std::vector<std::string> arguments = zx::ProgramArguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& argument : arguments) utf8Argv.push_back(argument.data());
  utf8Argv.push_back(nullptr);
  return zx::RunProgram(static_cast<int>(arguments.size()), utf8Argv.data());
}
