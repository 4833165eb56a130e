#include "reporting/wire_format.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "platform/text.hpp"

namespace zx {

size_t FormatProgressMessage(int percent, char (&buffer)[5]) {
  const auto end = fmt::format_to(buffer, "{}\n", std::clamp(percent, 0, 100));
  return static_cast<size_t>(end - buffer);
}

std::string FormatTextMessage(std::string_view tag, std::string_view message) {
  std::string text;
  text.reserve(tag.size() + message.size() + 1);
  text.append(tag).append(message).push_back('\n');
  return ToLocaleCharset(text);
}

}  // namespace zx
