#include <clocale>

#include "frontend/program.hpp"
#include "platform/interruption.hpp"
#include "zuvexport_version.hpp"

int main(int argc, char* argv[]) {
  if (zx::PrintVersionIfAsked(argc, argv, "zuvexport")) return 0;
  // Reports to controlling programs are converted to the user's character
  // set; numbers and collation stay in the C locale.
  std::setlocale(LC_CTYPE, "");
  zx::IgnoreWriteSignals();
  return zx::RunProgram(argc, argv);
}
