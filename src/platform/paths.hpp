#pragma once
// Paths are UTF-8 texts inside the program. A std::filesystem::path made
// straight from a narrow text reads it in the system's ANSI code page on
// Windows, so every path made from a text, and every text made from a path,
// goes through these two.
#include <filesystem>
#include <string>
#include <string_view>

namespace zx {

std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace zx
