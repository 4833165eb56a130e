#include "platform/odbc/connect_checks.hpp"

#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "platform/error.hpp"
#include "platform/paths.hpp"
#include "platform/text.hpp"

namespace zx {

std::optional<std::string> ConnectAttribute(std::string_view connectString, std::string_view key) {
  std::optional<std::string> found;
  size_t at = 0;
  while (at < connectString.size()) {
    const size_t equals = connectString.find('=', at);
    if (equals == std::string_view::npos) break;
    const std::string_view name = TrimBlanks(connectString.substr(at, equals - at));
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
      value = std::string(TrimBlanks(connectString.substr(pos, stop - pos)));
      at = stop + 1;
    }
    // The first occurrence wins, as with the driver manager.
    if (!found && EqualsIgnoringAsciiCase(name, key)) found = std::move(value);
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
  if (!driver || ToLowerAscii(*driver).find("sqlite") == std::string::npos) return connectString;
  const auto database = ConnectAttribute(connectString, "Database");
  // ":memory:" and URIs are not files to look for; NoCreat still applies.
  if (database && !database->empty() && *database != ":memory:" &&
      !database->starts_with("file:")) {
    std::error_code error;
    const auto status = std::filesystem::status(PathFromUtf8(*database), error);
    if (status.type() == std::filesystem::file_type::not_found) {
      throw CExportError(codes::kFileNotFound, "ODBC",
                         fmt::format("The source database '{}' does not exist", *database));
    }
  }
  if (ConnectAttribute(connectString, "NoCreat")) return connectString;
  std::string checked = connectString;
  const std::string_view trimmed = TrimBlanks(checked);
  if (!trimmed.empty() && trimmed.back() != ';') checked += ';';
  return checked + "NoCreat=1";
}

}  // namespace zx
