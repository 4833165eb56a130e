#pragma once
// Conversions between the program's UTF-8 texts and the wide texts of the
// Windows API, and Windows' own error texts. Internal to platform/windows.
#include <windows.h>

#include <string>
#include <string_view>

namespace zx {

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::wstring Widen(std::string_view utf8);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view wide);
// The system text of a Win32 error code (FormatMessageW), as UTF-8 and
// without the trailing line break; "error N" when the system has none.
std::string WindowsErrorText(DWORD code);

// A kernel handle with one owner, closed when the owner goes.
class CUniqueHandle {
 public:
  CUniqueHandle() = default;
  explicit CUniqueHandle(HANDLE handle) noexcept : m_handle(handle) {}
  CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.Release()) {}
  CUniqueHandle& operator=(CUniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  CUniqueHandle(const CUniqueHandle&) = delete;
  CUniqueHandle& operator=(const CUniqueHandle&) = delete;
  ~CUniqueHandle() { Reset(); }

  HANDLE Get() const noexcept { return m_handle; }
  bool Valid() const noexcept { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
  HANDLE Release() noexcept {
    HANDLE handle = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    return handle;
  }
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept {
    if (Valid()) ::CloseHandle(m_handle);
    m_handle = handle;
  }

 private:
  HANDLE m_handle = INVALID_HANDLE_VALUE;
};

}  // namespace zx
