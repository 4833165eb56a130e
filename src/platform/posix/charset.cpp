#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

#include "platform/text.hpp"

namespace zx {

namespace {

// An iconv conversion descriptor, closed when it goes.
class CIconv {
 public:
  CIconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  CIconv(const CIconv&) = delete;
  CIconv& operator=(const CIconv&) = delete;
  ~CIconv() {
    if (Valid()) iconv_close(m_cd);
  }
  bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return m_cd; }

 private:
  iconv_t m_cd;
};

}  // namespace

std::string ToLocaleCharset(std::string_view utf8) {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0) return std::string(utf8);
  const CIconv converter(codeset, "UTF-8");
  if (!converter.Valid()) return std::string(utf8);
  const iconv_t cd = converter.Get();
  std::string out;
  out.reserve(utf8.size());
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char buffer[256];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (result != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // Not representable or malformed: one '?' for the whole UTF-8 sequence.
    out.push_back('?');
    size_t skip = 1;
    while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
    in += skip;
    inLeft -= skip;
  }
  return out;
}

}  // namespace zx
