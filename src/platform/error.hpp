#pragma once
// The one error type of the system: a 32-bit HRESULT-style code, the text of
// the component that failed (source) and what went wrong (description).
// Platform code throws it; export code tolerates some codes by predicate and
// reports the rest once, at the edge of each operation.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace zx {

namespace codes {
// DAO numbers travel as 0x800A0000 | number.
constexpr uint32_t Dao(uint32_t number) { return 0x800A0000u | number; }
inline constexpr uint32_t kMissingField = Dao(3265);        // 0x800A0CC1 item not found
inline constexpr uint32_t kRequiredFieldEmpty = Dao(3314);  // 0x800A0CF2
inline constexpr uint32_t kTooFewParameters =
    Dao(3061);  // 0x800A0BF5 unknown column in a statement
inline constexpr uint32_t kResourcesExceeded = Dao(3035);  // 0x800A0BDB disk full, out of memory
inline constexpr uint32_t kFileNotFound = Dao(3024);       // 0x800A0BD0
inline constexpr uint32_t kNotADatabase = Dao(3343);       // unrecognised database format
inline constexpr uint32_t kTableNotFound = Dao(3078);
inline constexpr uint32_t kSyntaxError = Dao(3075);
inline constexpr uint32_t kEngineError = Dao(3000);        // any other engine failure
inline constexpr uint32_t kPointer = 0x80004003u;          // E_POINTER
inline constexpr uint32_t kFail = 0x80004005u;             // E_FAIL: source database errors
inline constexpr uint32_t kOutOfMemory = 0x8007000Eu;      // E_OUTOFMEMORY
inline constexpr uint32_t kTypeMismatch = 0x80020005u;     // DISP_E_TYPEMISMATCH
inline constexpr uint32_t kOverflow = 0x8002000Au;         // DISP_E_OVERFLOW
inline constexpr uint32_t kInvalidArgument = 0x80070057u;  // E_INVALIDARG
inline constexpr uint32_t kFileError = 0x80030000u;        // file system operations (STG range)
}  // namespace codes

class CExportError : public std::runtime_error {
 public:
  CExportError(uint32_t code, std::string source, std::string description);

  uint32_t Code() const noexcept { return m_code; }
  const std::string& Source() const noexcept { return m_source; }
  const std::string& Description() const noexcept { return m_description; }

  bool IsMissingField() const noexcept { return m_code == codes::kMissingField; }
  bool IsRequiredFieldEmpty() const noexcept { return m_code == codes::kRequiredFieldEmpty; }
  bool IsTooFewParameters() const noexcept { return m_code == codes::kTooFewParameters; }
  bool IsResourcesExceeded() const noexcept { return m_code == codes::kResourcesExceeded; }
  bool IsTableNotFound() const noexcept { return m_code == codes::kTableNotFound; }

 private:
  uint32_t m_code;
  std::string m_source;
  std::string m_description;
};

// "Error at %s\n%s : %s" with the location, the source and the description.
// An empty source or description is shown as "(unknown)" so that the line
// keeps its shape for programs that parse it.
std::string FormatErrorReport(std::string_view location, const CExportError& error);

// The system message of the calling thread's errno (strerror_r), without a
// trailing line break; empty when errno is 0.
std::string GetLastErrorText();
// The same for an explicit errno value.
std::string SystemErrorText(int errnum);
// The system text of an error code of the standard library: an errno value,
// or on Windows a system error code of the Windows API.
std::string SystemErrorText(const std::error_code& error);

// Throws CExportError(codes::kFileError, source, "<what>: <system text>") for errno.
[[noreturn]] void ThrowErrno(std::string_view source, std::string_view what, int errnum);

}  // namespace zx
