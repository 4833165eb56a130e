#include "platform/text.hpp"
#include "platform/windows/wide.hpp"

namespace zx {

// The controlling programs read the queue and the pipe in the ANSI code page
// of their thread, as the Windows API's narrow functions do.
std::string ToLocaleCharset(std::string_view utf8) {
  const UINT codePage = ::GetACP();
  if (utf8.empty() || codePage == CP_UTF8) return std::string(utf8);
  const std::wstring wide = Widen(utf8);
  const int size = static_cast<int>(wide.size());
  // Every character the code page cannot hold becomes one '?'.
  const int needed =
      ::WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), size, nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), size, out.data(), needed, "?", nullptr);
  return out;
}

}  // namespace zx
