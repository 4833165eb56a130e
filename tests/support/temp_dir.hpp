#pragma once
// A fresh temporary folder for one test, removed with everything in it.
#include <string>
#include <string_view>

namespace zx::test {

class CTempDir {
 public:
  CTempDir();  // under $TMPDIR (or /tmp); throws std::runtime_error on failure
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::string& path() const { return m_path; }
  // The path of `name` inside the folder; nothing is created.
  std::string file(std::string_view name) const;

 private:
  std::string m_path;
};

// A new folder PREFIX + six random characters under $TMPDIR (or /tmp); throws
// std::runtime_error on failure. The caller removes it.
std::string NewTempFolder(std::string_view prefix);

// The whole content of a file, "" when it cannot be read.
std::string ReadFileBytes(const std::string& path);

}  // namespace zx::test
