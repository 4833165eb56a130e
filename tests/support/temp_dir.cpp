#include "support/temp_dir.hpp"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

namespace zx::test {

std::string NewTempFolder(std::string_view prefix) {
  std::string path;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" +
                        std::string(prefix) + "XXXXXX";
#ifdef _WIN32
  // No mkdtemp: a random name, made until one is new. Under Wine the default
  // /tmp is the host's, so that a host ODBC driver reads the same paths.
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
    std::string name = pattern.substr(0, pattern.size() - 6);
    for (int i = 0; i < 6; ++i) name += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
    if (std::filesystem::create_directory(name)) path = name;
  }
  if (path.empty()) throw std::runtime_error("no new temporary folder under " + pattern);
#else
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
  }
  path = buffer.data();
#endif
  return path;
}

CTempDir::CTempDir() : m_path(NewTempFolder("zuvtest.")) {}

CTempDir::~CTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string CTempDir::file(std::string_view name) const { return m_path + "/" + std::string(name); }

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace zx::test
