#include "platform/odbc/connect_checks.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include <fmt/format.h>

#include "platform/error.hpp"

namespace zx {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

bool SameKey(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (SameKey(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> ConnectAttribute(std::string_view connectString, std::string_view key) {
  std::optional<std::string> found;
  size_t at = 0;
  while (at < connectString.size()) {
    const size_t equals = connectString.find('=', at);
    if (equals == std::string_view::npos) break;
    const std::string_view name = Trimmed(connectString.substr(at, equals - at));
    size_t pos = equals + 1;
    while (pos < connectString.size() && connectString[pos] == ' ') ++pos;
    std::string value;
    if (pos < connectString.size() && connectString[pos] == '{') {
      // A braced value runs to the first '}' not doubled; "}}" stands for '}'.
      for (++pos; pos < connectString.size(); ++pos) {
        if (connectString[pos] == '}') {
          if (pos + 1 < connectString.size() && connectString[pos + 1] == '}') {
            value.push_back('}');
            ++pos;
            continue;
          }
          ++pos;
          break;
        }
        value.push_back(connectString[pos]);
      }
      const size_t end = connectString.find(';', pos);
      at = end == std::string_view::npos ? connectString.size() : end + 1;
    } else {
      const size_t end = connectString.find(';', pos);
      const size_t stop = end == std::string_view::npos ? connectString.size() : end;
      value = std::string(Trimmed(connectString.substr(pos, stop - pos)));
      at = stop + 1;
    }
    // The first occurrence wins, as with the driver manager.
    if (!found && SameKey(name, key)) found = std::move(value);
  }
  return found;
}

std::string DatabaseNameForMessages(std::string_view connectString) {
  const auto database = ConnectAttribute(connectString, "Database");
  const auto server = ConnectAttribute(connectString, "Server");
  if (database && !database->empty()) {
    if (server && !server->empty()) return fmt::format("'{}' on server '{}'", *database, *server);
    return fmt::format("'{}'", *database);
  }
  if (server && !server->empty()) return fmt::format("on server '{}'", *server);
  const auto dsn = ConnectAttribute(connectString, "DSN");
  if (dsn && !dsn->empty()) return fmt::format("data source '{}'", *dsn);
  return "(unnamed)";
}

std::string CheckSqliteDatabase(const std::string& connectString) {
  const auto driver = ConnectAttribute(connectString, "Driver");
  if (!driver || !ContainsNoCase(*driver, "sqlite")) return connectString;
  const auto database = ConnectAttribute(connectString, "Database");
  // ":memory:" and URIs are not files to look for; NoCreat still applies.
  if (database && !database->empty() && *database != ":memory:" &&
      !database->starts_with("file:")) {
    struct stat info;
    if (stat(database->c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
      throw CExportError(codes::kFileNotFound, "ODBC",
                         fmt::format("The source database '{}' does not exist", *database));
    }
  }
  if (ConnectAttribute(connectString, "NoCreat")) return connectString;
  std::string checked = connectString;
  const std::string_view trimmed = Trimmed(checked);
  if (!trimmed.empty() && trimmed.back() != ';') checked += ';';
  return checked + "NoCreat=1";
}

}  // namespace zx
