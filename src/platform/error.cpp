#include "platform/error.hpp"

#include <cerrno>

#include <fmt/format.h>

namespace zx {

CExportError::CExportError(uint32_t code, std::string source, std::string description)
    : std::runtime_error(description.empty() ? fmt::format("error 0x{:08X}", code) : description),
      m_code(code),
      m_source(std::move(source)),
      m_description(std::move(description)) {}

std::string FormatErrorReport(std::string_view location, const CExportError& error) {
  auto shown = [](const std::string& text) -> std::string_view {
    return text.empty() ? std::string_view("(unknown)") : std::string_view(text);
  };
  return fmt::format("Error at {}\n{} : {}", location, shown(error.Source()),
                     shown(error.Description()));
}

std::string GetLastErrorText() {
  const int saved = errno;
  std::string text = SystemErrorText(saved);
  errno = saved;
  return text;
}

void ThrowErrno(std::string_view source, std::string_view what, int errnum) {
  throw CExportError(codes::kFileError, std::string(source),
                     fmt::format("{}: {}", what, SystemErrorText(errnum)));
}

}  // namespace zx
