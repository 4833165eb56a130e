#include "platform/odbc/connection_string.hpp"

#include "platform/odbc/odbc_api.hpp"

#include <fmt/format.h>
#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <stdexcept>

#include "platform/odbc/odbc_handles.hpp"
#include "platform/odbc/sql_server_platform.hpp"
#include "platform/text.hpp"

namespace zx {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";
// ADO's default Connect Timeout; FreeTDS would otherwise wait for ever on a
// server that accepts and never answers.
constexpr std::string_view kDefaultConnectTimeout = "15";

[[noreturn]] void ThrowInvalid(const std::string& reason) {
  throw std::invalid_argument("Invalid connectstring: " + reason);
}

// Reads a value in quotes or braces, `at` on the opening character; `close`
// doubled inside stands for itself. `at` ends after the closing character.
std::string ReadEnclosed(std::string_view text, size_t& at, char close, int pairNumber) {
  std::string value;
  for (++at;; ++at) {
    if (at >= text.size()) {
      ThrowInvalid(fmt::format("the value of pair {} has no closing {}", pairNumber, close));
    }
    if (text[at] != close) {
      value += text[at];
    } else if (at + 1 < text.size() && text[at + 1] == close) {
      value += close;
      ++at;
    } else {
      ++at;
      return value;
    }
  }
}

// Which duplicate counts: the last written, synonyms included, except for
// Provider, where OLE DB keeps the first.
class CPairLookup {
 public:
  explicit CPairLookup(const std::vector<ConnectionStringPair>& pairs) {
    for (size_t i = 0; i < pairs.size(); ++i) {
      std::string key = ToLowerAscii(pairs[i].key);
      m_keysInOrder.push_back(key);
      if (key == "provider" && m_values.count(key) != 0) continue;
      m_values[std::move(key)] = {i, pairs[i].value};
    }
  }
  bool Has(std::string_view key) const { return m_values.count(std::string(key)) != 0; }
  std::optional<std::string> Get(std::initializer_list<std::string_view> synonyms) const {
    const Entry* last = nullptr;
    for (std::string_view key : synonyms) {
      auto found = m_values.find(std::string(key));
      if (found != m_values.end() && (last == nullptr || found->second.position > last->position)) {
        last = &found->second;
      }
    }
    if (last == nullptr) return std::nullopt;
    return last->value;
  }
  // Every key as written, lower case, duplicates kept.
  const std::vector<std::string>& KeysInOrder() const { return m_keysInOrder; }

 private:
  struct Entry {
    size_t position = 0;
    std::string value;
  };
  std::map<std::string, Entry> m_values;
  std::vector<std::string> m_keysInOrder;
};

// The keys translated below, and those that change nothing for a read-only
// export through ODBC (pooling, prompting, OLE DB services, packet size and
// the like).
// clang-format off
const std::vector<std::string_view> kTranslatedKeys = {
    "provider", "data source", "server", "address", "addr", "network address",
    "initial catalog", "database", "user id", "uid", "password", "pwd",
    "integrated security", "trusted_connection", "connect timeout", "connection timeout",
    "encrypt", "use encryption for data", "trustservercertificate", "trust server certificate",
    "application name", "app", "workstation id", "wsid"};
const std::vector<std::string_view> kIgnoredKeys = {
    "persist security info", "ole db services", "packet size", "auto translate", "autotranslate",
    "use procedure for prepare", "network library", "network", "net", "locale identifier",
    "current language", "prompt", "pooling", "mode", "datatypecompatibility", "mars connection",
    "multipleactiveresultsets", "application intent", "applicationintent", "general timeout",
    "tag with column collation when possible", "connect retry count", "connect retry interval",
    "cache authentication", "encrypt password", "mask password", "window handle"};
// clang-format on

bool Contains(const std::vector<std::string_view>& keys, std::string_view key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// Provider names: SQLOLEDB, SQLNCLI, SQLNCLI11, MSOLEDBSQL, MSOLEDBSQL19, each
// optionally with a ".N" version. Returns the version digits after the name
// ("" or "19"), or nullopt for any other provider.
std::optional<std::string> SqlServerProviderVersion(std::string_view provider) {
  std::string name = ToLowerAscii(TrimBlanks(provider));
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size() &&
      std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dot) + 1, name.end(),
                  [](unsigned char c) { return std::isdigit(c) != 0; })) {
    name.resize(dot);
  }
  for (std::string_view base : {"sqloledb", "sqlncli", "msoledbsql"}) {
    if (name.compare(0, base.size(), base) != 0) continue;
    const std::string version = name.substr(base.size());
    if (base == "sqloledb" && !version.empty()) return std::nullopt;
    if (std::all_of(version.begin(), version.end(),
                    [](unsigned char c) { return std::isdigit(c) != 0; })) {
      return version;
    }
  }
  return std::nullopt;
}

std::optional<bool> ParseBool(std::string_view text) {
  const std::string value = ToLowerAscii(TrimBlanks(text));
  if (value == "true" || value == "yes") return true;
  if (value == "false" || value == "no") return false;
  return std::nullopt;
}

enum class Encryption { Off, Mandatory, Strict };

struct ServerAddress {
  std::string host;
  std::string instance;  // empty when a port is given or none is named
  std::string port;      // decimal, empty for the default
};

// "tcp:host\instance,port" and its shorter forms.
ServerAddress ParseServerAddress(std::string_view text) {
  std::string_view rest = TrimBlanks(text);
  const std::string lower = ToLowerAscii(rest);
  if (lower.rfind("tcp:", 0) == 0) {
    rest = TrimBlanks(rest.substr(4));
  } else {
    for (std::string_view prefix : {"np:", "lpc:", "admin:", "via:"}) {
      if (lower.rfind(prefix, 0) == 0) {
        ThrowInvalid(
            fmt::format("the protocol prefix '{}' of Data Source is not available here; "
                        "write the server as host, host,port or host\\instance",
                        rest.substr(0, prefix.size())));
      }
    }
  }
  ServerAddress address;
  const size_t comma = rest.rfind(',');
  if (comma != std::string_view::npos) {
    const std::string_view port = TrimBlanks(rest.substr(comma + 1));
    const bool digits =
        !port.empty() && port.size() <= 5 &&
        std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); });
    if (!digits || std::stoi(std::string(port)) < 1 || std::stoi(std::string(port)) > 65535) {
      ThrowInvalid("the port after ',' in Data Source must be a number from 1 to 65535");
    }
    address.port = std::to_string(std::stoi(std::string(port)));
    rest = TrimBlanks(rest.substr(0, comma));
  }
  const size_t backslash = rest.find('\\');
  std::string_view host = TrimBlanks(rest.substr(0, backslash));
  if (backslash != std::string_view::npos && address.port.empty()) {
    address.instance = std::string(TrimBlanks(rest.substr(backslash + 1)));
    if (address.instance.empty()) ThrowInvalid("Data Source names no instance after '\\'");
  }
  if (host == "." || ToLowerAscii(host) == "(local)") host = "localhost";
  if (host.empty()) ThrowInvalid("Data Source names no server");
  address.host = std::string(host);
  return address;
}

// Writes the ODBC pairs of one driver. A value goes in braces when it holds
// what would end or split it; Driver names with blanks take them by custom.
// Inside braces Microsoft's drivers read "}}" as '}' (the ODBC rule); FreeTDS
// keeps every '}' and ends the value at a '}' before ';' or the end.
class COdbcPairs {
 public:
  explicit COdbcPairs(SqlServerOdbcDriver driver) : m_driver(driver) {}
  void Append(std::string_view key, std::string_view value) {
    m_text += fmt::format("{}{}={}", m_text.empty() ? "" : ";", key, Value(key, value));
  }
  const std::string& Text() const { return m_text; }

 private:
  std::string Value(std::string_view key, std::string_view value) const {
    const bool plain = value.find_first_of(";{}=") == std::string_view::npos &&
                       TrimBlanks(value).size() == value.size() &&
                       (key != "Driver" || value.find(' ') == std::string_view::npos);
    if (plain) return std::string(value);
    const bool freeTds = m_driver == SqlServerOdbcDriver::FreeTds;
    if (freeTds && value.find("};") != std::string_view::npos) {
      ThrowInvalid(
          fmt::format("the value given for {} holds '}};', which FreeTDS cannot read", key));
    }
    std::string braced = "{";
    for (char c : value) {
      braced += c;
      if (c == '}' && !freeTds) braced += '}';
    }
    return braced + "}";
  }

  SqlServerOdbcDriver m_driver;
  std::string m_text;
};

// "Provider =" anywhere: the text was meant as an ADO string.
bool NamesProvider(std::string_view text) {
  const std::string lower = ToLowerAscii(text);
  for (size_t at = lower.find("provider"); at != std::string::npos;
       at = lower.find("provider", at + 1)) {
    const size_t next = lower.find_first_not_of(kBlanks, at + 8);
    if (next != std::string::npos && lower[next] == '=') return true;
  }
  return false;
}

// The pairs of an ADO string to translate; nullopt for a text that goes to
// the driver manager unchanged.
std::optional<CPairLookup> PairsToTranslate(std::string_view text) {
  std::vector<ConnectionStringPair> parsed;
  try {
    parsed = ParseConnectionString(text);
  } catch (const std::invalid_argument&) {
    // Not a key=value list at all: the driver manager says what it makes of
    // it. A malformed ADO string is an error here.
    if (NamesProvider(text)) throw;
    return std::nullopt;
  }
  CPairLookup pairs(parsed);
  if (pairs.Has("driver") || pairs.Has("dsn") || pairs.Has("filedsn")) return std::nullopt;
  if (!pairs.Has("provider")) return std::nullopt;
  return pairs;
}

}  // namespace

std::vector<ConnectionStringPair> ParseConnectionString(std::string_view text) {
  std::vector<ConnectionStringPair> pairs;
  size_t at = 0;
  int pairNumber = 0;
  while (at < text.size()) {
    if (kBlanks.find(text[at]) != std::string_view::npos) {
      ++at;
      continue;
    }
    if (text[at] == ';') {
      ++at;
      continue;
    }
    ++pairNumber;
    std::string key;
    for (;;) {
      if (at >= text.size() || text[at] == ';') {
        ThrowInvalid(fmt::format("pair {} has no '='", pairNumber));
      }
      if (text[at] == '=') {
        if (at + 1 < text.size() && text[at + 1] == '=') {
          key += '=';
          at += 2;
          continue;
        }
        ++at;
        break;
      }
      key += text[at++];
    }
    key = std::string(TrimBlanks(key));
    if (key.empty()) ThrowInvalid(fmt::format("pair {} has no key before '='", pairNumber));

    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::string value;
    if (at < text.size() && (text[at] == '"' || text[at] == '\'' || text[at] == '{')) {
      value = ReadEnclosed(text, at, text[at] == '{' ? '}' : text[at], pairNumber);
      while (at < text.size() && kBlanks.find(text[at]) != std::string_view::npos) ++at;
      if (at < text.size() && text[at] != ';') {
        ThrowInvalid(fmt::format("the value of pair {} goes on after its closing quote or brace",
                                 pairNumber));
      }
    } else {
      const size_t end = std::min(text.find(';', at), text.size());
      value = std::string(TrimBlanks(text.substr(at, end - at)));
      at = end;
    }
    pairs.push_back({std::move(key), std::move(value)});
  }
  return pairs;
}

const char* OdbcDriverName(SqlServerOdbcDriver driver) {
  switch (driver) {
    case SqlServerOdbcDriver::Microsoft18:
      return "ODBC Driver 18 for SQL Server";
    case SqlServerOdbcDriver::Microsoft17:
      return "ODBC Driver 17 for SQL Server";
    case SqlServerOdbcDriver::WindowsBuiltIn:
      return "SQL Server";
    default:
      return "FreeTDS";
  }
}

std::string ToOdbcConnectionString(std::string_view text, SqlServerOdbcDriver driver) {
  const std::optional<CPairLookup> translated = PairsToTranslate(text);
  if (!translated) return std::string(text);
  const CPairLookup& pairs = *translated;
  const std::optional<std::string> provider = pairs.Get({"provider"});

  const std::optional<std::string> version = SqlServerProviderVersion(*provider);
  if (!version) {
    ThrowInvalid(fmt::format(
        "the provider '{}' is not a SQL Server provider; write Provider=SQLOLEDB (or SQLNCLI11, "
        "MSOLEDBSQL) with Data Source, Initial Catalog, User ID and Password, or an ODBC string "
        "such as Driver=FreeTDS;Server=host;Port=1433;Database=db;UID=user;PWD=password",
        *provider));
  }
  const std::vector<std::string>& keys = pairs.KeysInOrder();
  for (size_t i = 0; i < keys.size(); ++i) {
    if (Contains(kTranslatedKeys, keys[i]) || Contains(kIgnoredKeys, keys[i])) continue;
    // Right after a password it is most likely the rest of an unquoted one:
    // not to be shown.
    if (i > 0 && (keys[i - 1] == "password" || keys[i - 1] == "pwd")) {
      ThrowInvalid(
          fmt::format("pair {} after the password cannot be read; a password that "
                      "holds ';' must be in quotes: Password=\"...\"",
                      i + 1));
    }
    ThrowInvalid(
        fmt::format("the key '{}' cannot be honoured here; docs/sql-server.md lists "
                    "the keys read",
                    keys[i]));
  }

  bool integratedSecurity = false;
  if (const auto integrated = pairs.Get({"integrated security", "trusted_connection"})) {
    const std::string value = ToLowerAscii(TrimBlanks(*integrated));
    integratedSecurity = value == "sspi" || ParseBool(value).value_or(false);
    if (integratedSecurity && !IntegratedSecurityAvailable()) {
      ThrowInvalid(
          "Windows integrated security is not available here; write User ID and Password of a "
          "SQL Server login instead, or, where Kerberos is set up, an ODBC string with "
          "Trusted_Connection=Yes");
    }
    if (!ParseBool(value)) {
      ThrowInvalid("Integrated Security must be SSPI, true, yes, false or no");
    }
  }
  const std::optional<std::string> user = pairs.Get({"user id", "uid"});
  if (!integratedSecurity && (!user || TrimBlanks(*user).empty())) {
    ThrowInvalid("no User ID; write User ID and Password of a SQL Server login");
  }
  // As the providers do, a network address overrides the server name.
  std::optional<std::string> server = pairs.Get({"address", "addr", "network address"});
  if (!server) server = pairs.Get({"data source", "server"});
  if (!server) ThrowInvalid("no Data Source; write Data Source=host, host,port or host\\instance");
  const ServerAddress address = ParseServerAddress(*server);

  // SQLOLEDB and SQLNCLI leave the connection unencrypted unless asked;
  // MSOLEDBSQL 19 and later encrypt unless told not to.
  Encryption encryption =
      !version->empty() && std::stoi(*version) >= 19 ? Encryption::Mandatory : Encryption::Off;
  if (const auto encrypt = pairs.Get({"encrypt", "use encryption for data"})) {
    const std::string value = ToLowerAscii(TrimBlanks(*encrypt));
    if (value == "strict") {
      encryption = Encryption::Strict;
    } else if (value == "mandatory" || ParseBool(value) == true) {
      encryption = Encryption::Mandatory;
    } else if (value == "optional" || ParseBool(value) == false) {
      encryption = Encryption::Off;
    } else {
      ThrowInvalid("Encrypt must be true, false, yes, no, optional, mandatory or strict");
    }
  }
  std::optional<bool> trustCertificate;
  if (const auto trust = pairs.Get({"trustservercertificate", "trust server certificate"})) {
    trustCertificate = ParseBool(*trust);
    if (!trustCertificate) ThrowInvalid("TrustServerCertificate must be true, false, yes or no");
  }
  std::string timeout(kDefaultConnectTimeout);
  if (const auto given = pairs.Get({"connect timeout", "connection timeout"})) {
    const std::string_view value = TrimBlanks(*given);
    if (value.empty() || value.size() > 6 ||
        !std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isdigit(c); })) {
      ThrowInvalid("Connect Timeout must be a number of seconds");
    }
    timeout = std::to_string(std::stoi(std::string(value)));  // "0": no limit
  }

  COdbcPairs odbc(driver);
  odbc.Append("Driver", OdbcDriverName(driver));
  if (driver == SqlServerOdbcDriver::FreeTds) {
    odbc.Append("Server",
                address.instance.empty() ? address.host : address.host + "\\" + address.instance);
    if (!address.port.empty()) odbc.Append("Port", address.port);
  } else if (driver == SqlServerOdbcDriver::WindowsBuiltIn) {
    odbc.Append("Server", !address.instance.empty() ? address.host + "\\" + address.instance
                          : address.port.empty()    ? address.host
                                                    : address.host + "," + address.port);
  } else {
    odbc.Append("Server", !address.instance.empty() ? address.host + "\\" + address.instance
                          : address.port.empty()    ? "tcp:" + address.host
                                                    : "tcp:" + address.host + "," + address.port);
  }
  if (const auto database = pairs.Get({"initial catalog", "database"})) {
    odbc.Append("Database", *database);
  }
  if (integratedSecurity) {
    odbc.Append("Trusted_Connection", "Yes");
  } else {
    odbc.Append("UID", *user);
    odbc.Append("PWD", pairs.Get({"password", "pwd"}).value_or(""));
  }
  if (driver == SqlServerOdbcDriver::FreeTds) {
    odbc.Append("TDS_Version", "7.4");
    odbc.Append("ClientCharset", "UTF-8");
    if (timeout != "0") odbc.Append("Timeout", timeout);
    // FreeTDS's own default asks for encryption when the server offers it,
    // as SQL Server's clients do with Encrypt=no; it checks the server's
    // certificate only when freetds.conf names a CA file.
    if (encryption == Encryption::Strict) {
      ThrowInvalid(
          "Encrypt=Strict needs Microsoft's ODBC Driver 18 for SQL Server; write "
          "Encrypt=Mandatory for FreeTDS");
    }
    if (encryption == Encryption::Mandatory) odbc.Append("Encryption", "require");
  } else {
    if (encryption == Encryption::Strict && driver != SqlServerOdbcDriver::Microsoft18) {
      ThrowInvalid("Encrypt=Strict needs Microsoft's ODBC Driver 18 for SQL Server");
    }
    // Written always: Driver 18 encrypts by default, the providers did not.
    odbc.Append("Encrypt", encryption == Encryption::Strict      ? "strict"
                           : encryption == Encryption::Mandatory ? "yes"
                                                                 : "no");
    if (trustCertificate) odbc.Append("TrustServerCertificate", *trustCertificate ? "yes" : "no");
  }
  if (const auto app = pairs.Get({"application name", "app"})) odbc.Append("APP", *app);
  if (const auto wsid = pairs.Get({"workstation id", "wsid"})) odbc.Append("WSID", *wsid);
  return odbc.Text();
}

SqlServerOdbcDriver RegisteredSqlServerDriver() {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    return SqlServerOdbcDriver::FreeTds;
  }
  const CEnvHandle owner(env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  bool has18 = false, has17 = false;
  SQLCHAR name[256];
  SQLCHAR attributes[1024];
  SQLSMALLINT nameLength = 0, attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(env, direction, name, sizeof name, &nameLength, attributes,
                                  sizeof attributes, &attributesLength))) {
    direction = SQL_FETCH_NEXT;
    const std::string_view driverName(reinterpret_cast<const char*>(name));
    has18 = has18 || driverName == OdbcDriverName(SqlServerOdbcDriver::Microsoft18);
    has17 = has17 || driverName == OdbcDriverName(SqlServerOdbcDriver::Microsoft17);
  }
  if (has18) return SqlServerOdbcDriver::Microsoft18;
  if (has17) return SqlServerOdbcDriver::Microsoft17;
  return FallbackSqlServerDriver();
}

std::string ToOdbcConnectionString(std::string_view text) {
  if (!PairsToTranslate(text)) return std::string(text);
  return ToOdbcConnectionString(text, RegisteredSqlServerDriver());
}

}  // namespace zx
