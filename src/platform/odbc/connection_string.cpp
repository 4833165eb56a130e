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

// Which pair counts, by Microsoft's documented rules: of the same key the
// last written, except Provider, where the first counts (OLE DB "Connection
// String Syntax"); of an initialization-string key (Data Source, User ID, ...)
// and its provider-string counterpart (Server, UID, ...) the former, wherever
// it stands ("Using Connection String Keywords with OLE DB Driver for SQL
// Server").
class CPairLookup {
 public:
  explicit CPairLookup(const std::vector<ConnectionStringPair>& pairs) {
    for (size_t i = 0; i < pairs.size(); ++i) {
      std::string key = ToLowerAscii(pairs[i].key);
      m_keysInOrder.push_back({key, pairs[i].key});
      if (key == "provider" && m_values.count(key) != 0) continue;
      m_values[std::move(key)] = {i, pairs[i].value};
    }
  }
  bool Has(std::string_view key) const { return m_values.count(std::string(key)) != 0; }
  // The last written of `initKeys` (synonyms), else the last of `providerKeys`.
  std::optional<std::string> Get(std::initializer_list<std::string_view> initKeys,
                                 std::initializer_list<std::string_view> providerKeys = {}) const {
    if (auto value = Last(initKeys)) return value;
    return Last(providerKeys);
  }
  struct Key {
    std::string lower;
    std::string written;
  };
  // Every key in order, duplicates kept.
  const std::vector<Key>& KeysInOrder() const { return m_keysInOrder; }

 private:
  std::optional<std::string> Last(std::initializer_list<std::string_view> synonyms) const {
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
  struct Entry {
    size_t position = 0;
    std::string value;
  };
  std::map<std::string, Entry> m_values;
  std::vector<Key> m_keysInOrder;
};

// The keys translated below, and those that change nothing for a read-only
// export through ODBC (pooling, prompting, OLE DB services, packet size and
// the like), in both spellings of Microsoft's table: initialization string
// and provider string.
// clang-format off
const std::vector<std::string_view> kTranslatedKeys = {
    "provider", "data source", "server", "network address", "address", "addr",
    "initial catalog", "database", "user id", "uid", "password", "pwd",
    "integrated security", "trusted_connection", "connect timeout", "connection timeout",
    "timeout", "use encryption for data", "encrypt", "trust server certificate",
    "trustservercertificate", "application name", "app", "workstation id", "wsid",
    "authentication"};
const std::vector<std::string_view> kIgnoredKeys = {
    "persist security info", "ole db services", "packet size", "packetsize", "auto translate",
    "autotranslate", "use procedure for prepare", "useprocforprepare", "network library",
    "network", "net", "locale identifier", "current language", "language", "prompt", "pooling",
    "mode", "datatypecompatibility", "mars connection", "marsconn", "multipleactiveresultsets",
    "application intent", "applicationintent", "general timeout",
    "tag with column collation when possible", "connect retry count", "connectretrycount",
    "connect retry interval", "connectretryinterval", "cache authentication",
    "encrypt password", "mask password", "window handle", "persist sensitive authentication info",
    "persistsensitive", "use fmtonly", "usefmtonly", "multi subnet failover",
    "multisubnetfailover"};
// Keys of Microsoft's table that cannot be honoured here, with what to write instead.
const std::vector<std::pair<std::string_view, std::string_view>> kRefusedKeys = {
    {"failover partner", "FreeTDS does not fail over; name the server to connect to in Data Source"},
    {"failoverpartner", "FreeTDS does not fail over; name the server to connect to in Data Source"},
    {"failover partner spn", "FreeTDS does not fail over; name the server to connect to in Data Source"},
    {"failoverpartnerspn", "FreeTDS does not fail over; name the server to connect to in Data Source"},
    {"initial file name", "attach the database on the server and name it in Initial Catalog"},
    {"attachdbfilename", "attach the database on the server and name it in Initial Catalog"},
    {"server spn", "it serves Windows logins only; write User ID and Password of a SQL Server login"},
    {"serverspn", "it serves Windows logins only; write User ID and Password of a SQL Server login"},
    {"access token", "write User ID and Password of a SQL Server login"},
    {"host name in certificate", "for certificate checks pass an ODBC string for the driver"},
    {"hostnameincertificate", "for certificate checks pass an ODBC string for the driver"},
    {"server certificate", "for certificate checks pass an ODBC string for the driver"},
    {"servercertificate", "for certificate checks pass an ODBC string for the driver"}};
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
    if (version.size() > 3) return std::nullopt;  // no such release
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
  std::string host;  // an IPv6 address without its brackets
  bool ipv6 = false;
  std::string instance;  // empty when a port is given or none is named
  std::string port;      // decimal, empty for the default
};

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string ReadPort(std::string_view text, std::string_view after) {
  const std::string_view port = TrimBlanks(text);
  // Five digits at most: std::stoi cannot overflow.
  if (!AllDigits(port) || port.size() > 5 || std::stoi(std::string(port)) < 1 ||
      std::stoi(std::string(port)) > 65535) {
    ThrowInvalid(
        fmt::format("the port after '{}' in Data Source must be a number from 1 to 65535", after));
  }
  return std::to_string(std::stoi(std::string(port)));
}

// "tcp:host\instance,port", "[IPv6],port", "host:port" and their shorter forms.
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
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      ThrowInvalid("the IPv6 address in Data Source has no closing ']'; write [address],port");
    }
    address.host = std::string(TrimBlanks(rest.substr(1, close - 1)));
    address.ipv6 = true;
    rest = TrimBlanks(rest.substr(close + 1));
    if (!rest.empty() && rest.front() == ',') {
      address.port = ReadPort(rest.substr(1), ",");
    } else if (!rest.empty()) {
      ThrowInvalid("only ',' and a port may follow the IPv6 address in Data Source");
    }
    if (address.host.find(':') == std::string::npos) {
      ThrowInvalid("Data Source holds no IPv6 address between '[' and ']'");
    }
    return address;
  }
  const size_t comma = rest.rfind(',');
  if (comma != std::string_view::npos) {
    address.port = ReadPort(rest.substr(comma + 1), ",");
    rest = TrimBlanks(rest.substr(0, comma));
  }
  const size_t backslash = rest.find('\\');
  std::string_view host = TrimBlanks(rest.substr(0, backslash));
  if (backslash != std::string_view::npos && address.port.empty()) {
    address.instance = std::string(TrimBlanks(rest.substr(backslash + 1)));
    if (address.instance.empty()) ThrowInvalid("Data Source names no instance after '\\'");
  }
  const size_t colon = host.find(':');
  if (colon != std::string_view::npos && host.find(':', colon + 1) == std::string_view::npos) {
    // "host:port", as other clients write it; SQL Server's own write "host,port".
    if (!address.port.empty() || !address.instance.empty()) {
      ThrowInvalid(
          "Data Source gives a port after ':' and after ',' or an instance; write "
          "host,port");
    }
    address.port = ReadPort(host.substr(colon + 1), ":");
    host = TrimBlanks(host.substr(0, colon));
  } else if (colon != std::string_view::npos) {
    address.ipv6 = true;  // written without brackets
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
  const std::vector<CPairLookup::Key>& keys = pairs.KeysInOrder();
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string& key = keys[i].lower;
    if (Contains(kTranslatedKeys, key) || Contains(kIgnoredKeys, key)) continue;
    // Right after a password it may be the rest of an unquoted one: not to be shown.
    if (i > 0 && (keys[i - 1].lower == "password" || keys[i - 1].lower == "pwd")) {
      ThrowInvalid(
          fmt::format("pair {}, after the password, is not a key read here; if it is part of the "
                      "password, write the password in quotes: Password=\"...\"",
                      i + 1));
    }
    for (const auto& [refused, instead] : kRefusedKeys) {
      if (key == refused) {
        ThrowInvalid(
            fmt::format("the key '{}' cannot be honoured here; {}", keys[i].written, instead));
      }
    }
    ThrowInvalid(
        fmt::format("the key '{}' is not read here; leave it out, or pass an ODBC string "
                    "(Driver=...) with the driver's own keys; docs/sql-server.md lists the keys "
                    "read",
                    keys[i].written));
  }

  bool integratedSecurity = false;
  if (const auto integrated = pairs.Get({"integrated security"}, {"trusted_connection"})) {
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
  if (const auto authentication = pairs.Get({"authentication"})) {
    if (ToLowerAscii(TrimBlanks(*authentication)) != "sqlpassword") {
      ThrowInvalid(
          "only Authentication=SqlPassword is available here; write User ID and Password of a "
          "SQL Server login");
    }
  }
  const std::optional<std::string> user = pairs.Get({"user id"}, {"uid"});
  if (!integratedSecurity && (!user || TrimBlanks(*user).empty())) {
    ThrowInvalid("no User ID; write User ID and Password of a SQL Server login");
  }
  // The providers log in with "DOMAIN\user" as a SQL Server login (which
  // cannot hold '\'); FreeTDS would instead try a Windows (NTLM) login.
  if (user && user->find('\\') != std::string::npos) {
    ThrowInvalid(
        "User ID names a Windows account (DOMAIN\\user); Windows logins are not available "
        "here; write User ID and Password of a SQL Server login");
  }
  // As the providers do, a network address overrides the server name.
  std::optional<std::string> server = pairs.Get({"network address"}, {"address", "addr"});
  if (!server) server = pairs.Get({"data source"}, {"server"});
  if (!server) ThrowInvalid("no Data Source; write Data Source=host, host,port or host\\instance");
  const ServerAddress address = ParseServerAddress(*server);

  // SQLOLEDB and SQLNCLI leave the connection unencrypted unless asked;
  // MSOLEDBSQL 19 and later encrypt unless told not to.
  Encryption encryption =
      !version->empty() && std::stoi(*version) >= 19 ? Encryption::Mandatory : Encryption::Off;
  if (const auto encrypt = pairs.Get({"use encryption for data"}, {"encrypt"})) {
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
  if (const auto trust = pairs.Get({"trust server certificate"}, {"trustservercertificate"})) {
    trustCertificate = ParseBool(*trust);
    if (!trustCertificate) ThrowInvalid("TrustServerCertificate must be true, false, yes or no");
  }
  std::string timeout(kDefaultConnectTimeout);
  if (const auto given = pairs.Get({"connect timeout", "connection timeout"}, {"timeout"})) {
    const std::string_view value = TrimBlanks(*given);
    if (!AllDigits(value) || value.size() > 6) {
      ThrowInvalid("Connect Timeout must be a number of seconds");
    }
    timeout = std::to_string(std::stoi(std::string(value)));  // "0": no limit
  }

  COdbcPairs odbc(driver);
  odbc.Append("Driver", OdbcDriverName(driver));
  if (driver == SqlServerOdbcDriver::FreeTds) {
    // FreeTDS resolves an IPv6 address written without brackets.
    odbc.Append("Server",
                address.instance.empty() ? address.host : address.host + "\\" + address.instance);
    if (!address.port.empty()) odbc.Append("Port", address.port);
  } else if (driver == SqlServerOdbcDriver::WindowsBuiltIn) {
    odbc.Append("Server", !address.instance.empty() ? address.host + "\\" + address.instance
                          : address.port.empty()    ? address.host
                                                    : address.host + "," + address.port);
  } else {
    const std::string host = address.ipv6 ? "[" + address.host + "]" : address.host;
    odbc.Append("Server", !address.instance.empty() ? host + "\\" + address.instance
                          : address.port.empty()    ? "tcp:" + host
                                                    : "tcp:" + host + "," + address.port);
  }
  if (const auto database = pairs.Get({"initial catalog"}, {"database"})) {
    odbc.Append("Database", *database);
  }
  if (integratedSecurity) {
    odbc.Append("Trusted_Connection", "Yes");
  } else {
    odbc.Append("UID", *user);
    odbc.Append("PWD", pairs.Get({"password"}, {"pwd"}).value_or(""));
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
  if (const auto app = pairs.Get({"application name"}, {"app"})) odbc.Append("APP", *app);
  if (const auto wsid = pairs.Get({"workstation id"}, {"wsid"})) odbc.Append("WSID", *wsid);
  // FreeTDS reads a braced value that ends the string with its closing brace.
  return odbc.Text() + ";";
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
