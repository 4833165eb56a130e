#include <cstring>

#include "platform/error.hpp"

namespace zx {

std::string SystemErrorText(int errnum) {
  if (errnum == 0) return {};
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(errnum, buffer, sizeof buffer);
  return text ? std::string(text) : std::string();
}

std::string SystemErrorText(const std::error_code& error) { return SystemErrorText(error.value()); }

}  // namespace zx
