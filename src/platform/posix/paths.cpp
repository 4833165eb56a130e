#include "platform/paths.hpp"

namespace zx {

// File names are bytes here; UTF-8 ones pass as they are.
std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::string(utf8));
}

std::string PathToUtf8(const std::filesystem::path& path) { return path.string(); }

}  // namespace zx
