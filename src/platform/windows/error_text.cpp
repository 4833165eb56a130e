#include <cstring>

#include "platform/error.hpp"
#include "platform/windows/wide.hpp"

namespace zx {

std::string SystemErrorText(int errnum) {
  if (errnum == 0) return {};
  char buffer[256] = {};
  if (strerror_s(buffer, sizeof buffer, errnum) != 0) return {};
  return buffer;
}

std::string SystemErrorText(const std::error_code& error) {
  if (!error) return {};
  // The standard library reports failed Windows API calls in the system
  // category with their GetLastError code, failed C runtime calls as errno.
  if (error.category() == std::system_category()) {
    return WindowsErrorText(static_cast<DWORD>(error.value()));
  }
  return SystemErrorText(error.value());
}

}  // namespace zx
