// Connection strings as callers write them: parsing by the OLE DB rules and
// the translation of SQL Server's ADO strings into ODBC strings.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "platform/odbc/connection_string.hpp"
#include "platform/odbc/source.hpp"
#include "support/process.hpp"
#include "support/sql_server.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

std::string Pairs(const std::string& text) {
  std::string shown;
  try {
    for (const ConnectionStringPair& pair : ParseConnectionString(text)) {
      shown += "<" + pair.key + ">=<" + pair.value + ">";
    }
  } catch (const std::invalid_argument& e) {
    return std::string("error: ") + e.what();
  }
  return shown;
}

std::string Translated(const std::string& text,
                       SqlServerOdbcDriver driver = SqlServerOdbcDriver::FreeTds) {
  try {
    return ToOdbcConnectionString(text, driver);
  } catch (const std::invalid_argument& e) {
    return std::string("error: ") + e.what();
  }
}

// The field `key` of the stand-in's last login record (one JSON object a line).
std::string LastLogin(const std::string& logFile, const std::string& key) {
  const std::string text = test::ReadFileBytes(logFile);
  const size_t line = text.rfind('\n', text.size() < 2 ? 0 : text.size() - 2);
  const std::string last = line == std::string::npos ? text : text.substr(line + 1);
  const std::string marker = "\"" + key + "\": \"";
  size_t at = last.find(marker);
  if (at == std::string::npos) return "(none)";
  std::string value;
  for (at += marker.size(); at < last.size() && last[at] != '"'; ++at) {
    if (last[at] == '\\') ++at;  // only \" and \\ occur in these texts
    value += last[at];
  }
  return value;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(PlatformConnectionString, ParsesByTheOleDbRules) {
  struct Case {
    const char* text;
    const char* pairs;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {" ; ;; ", ""},
      {"a=1;B = two words ; c=", "<a>=<1><B>=<two words><c>=<>"},
      {"Password=\"x;y=z\";User ID='it''s'", "<Password>=<x;y=z><User ID>=<it's>"},
      {"k=\"say \"\"hi\"\"\" ; l='\"'", "<k>=<say \"hi\"><l>=<\">"},
      {"k= {a;b}}c} ;m={}", "<k>=<a;b}c><m>=<>"},
      {"a==b=c=d;==x=1", "<a=b>=<c=d><=x>=<1>"},
      {"k=\" padded \"", "<k>=< padded >"},
      {"k=mid\"quote", "<k>=<mid\"quote>"},
      {"a=1;a=2", "<a>=<1><a>=<2>"},
      // Errors name the pair by position: its text may be part of a password.
      {"Password=secret;word", "error: Invalid connectstring: pair 2 has no '='"},
      {"=1", "error: Invalid connectstring: pair 1 has no key before '='"},
      {"a=1;k=\"open;x=2", "error: Invalid connectstring: the value of pair 2 has no closing \""},
      {"k={open", "error: Invalid connectstring: the value of pair 1 has no closing }"},
      {"k='a'b;c=d",
       "error: Invalid connectstring: the value of pair 1 goes on after its closing quote or "
       "brace"},
  };
  for (const Case& c : cases) EXPECT_EQ(Pairs(c.text), c.pairs) << c.text;
}

TEST(PlatformConnectionString, TranslatesSqlServerProvidersAndRejectsTheRest) {
  using D = SqlServerOdbcDriver;
  const std::string kFreeTdsTail = ";TDS_Version=7.4;ClientCharset=UTF-8;Timeout=15;";
  struct Case {
    const char* text;
    D driver;
    std::string odbc;
  };
  const std::vector<Case> cases = {
      // ODBC strings, and texts naming no provider, pass as they are.
      {"Driver={SQLite3};Database=/tmp/a b.db", D::FreeTds,
       "Driver={SQLite3};Database=/tmp/a b.db"},
      {"Provider=MSDASQL;DSN=survey;UID=u", D::FreeTds, "Provider=MSDASQL;DSN=survey;UID=u"},
      {"FILEDSN=/etc/x.dsn", D::FreeTds, "FILEDSN=/etc/x.dsn"},
      {"cs", D::FreeTds, "cs"},
      {"Provider=SQLOLEDB.1;Data Source=db01\\SURVEYS;Initial Catalog=Panel;User ID=exporter;"
       "Password=pa;ss;Persist Security Info=True",
       D::FreeTds, "error: Invalid connectstring: pair 6 has no '='"},
      {"Provider=SQLOLEDB.1;Data Source=db01\\SURVEYS;Initial Catalog=Panel;User ID=exporter;"
       "Password=\"pa;ss\";Persist Security Info=True",
       D::FreeTds,
       "Driver=FreeTDS;Server=db01\\SURVEYS;Database=Panel;UID=exporter;PWD={pa;ss}" +
           kFreeTdsTail},
      {"provider = sqlncli11 ; server=tcp:10.0.0.5,1444;database=P;uid=u;pwd={a}}b};"
       "Connect Timeout=0;Application Name=Panel export;Workstation ID=WS1",
       D::FreeTds,
       "Driver=FreeTDS;Server=10.0.0.5;Port=1444;Database=P;UID=u;PWD={a}b};TDS_Version=7.4;"
       "ClientCharset=UTF-8;APP=Panel export;WSID=WS1;"},
      // The last of two synonyms counts; Provider's first; a network address
      // overrides the server name; the port wins over the instance.
      {"Provider=MSOLEDBSQL;Provider=Microsoft.Jet.OLEDB.4.0;Data Source=a;Data Source=(local)\\I,"
       "1500;User ID=u;Encrypt=yes;TrustServerCertificate=true;Connection Timeout=30",
       D::FreeTds,
       "Driver=FreeTDS;Server=localhost;Port=1500;UID=u;PWD=;TDS_Version=7.4;"
       "ClientCharset=UTF-8;Timeout=30;Encryption=require;"},
      // An initialization-string key wins over its provider-string
      // counterpart wherever either stands; provider-string keys of
      // Microsoft's table are read.
      {"Provider=SQLOLEDB;Data Source=db01,1433;Initial Catalog=Panel;User ID=u;Password=p;"
       "Server=old-host;Database=Old;UID=old;PWD=old;Timeout=30;Connect Timeout=20",
       D::FreeTds,
       "Driver=FreeTDS;Server=db01;Port=1433;Database=Panel;UID=u;PWD=p;TDS_Version=7.4;"
       "ClientCharset=UTF-8;Timeout=20;"},
      {"Provider=SQLOLEDB;Server=db02;UID=u;PWD=p;Timeout=30;PacketSize=8192;AutoTranslate=no;"
       "Language=us_english;MarsConn=no;APP=a;WSID=w;Authentication=SqlPassword",
       D::FreeTds,
       "Driver=FreeTDS;Server=db02;UID=u;PWD=p;TDS_Version=7.4;ClientCharset=UTF-8;Timeout=30;"
       "APP=a;WSID=w;"},
      // A braced last value is followed by ';' (FreeTDS would keep its brace).
      {"Provider=SQLOLEDB;Data Source=db;User ID=u;Password=p;Application Name=\"Panel export; "
       "nightly\"",
       D::FreeTds,
       "Driver=FreeTDS;Server=db;UID=u;PWD=p" + kFreeTdsTail + "APP={Panel export; nightly};"},
      // IPv6 addresses and host:port.
      {"Provider=SQLOLEDB;Data Source=[::1],1433;User ID=u;Password=p", D::FreeTds,
       "Driver=FreeTDS;Server=::1;Port=1433;UID=u;PWD=p" + kFreeTdsTail},
      {"Provider=SQLOLEDB;Data Source=tcp:[fe80::1];User ID=u;Password=p", D::FreeTds,
       "Driver=FreeTDS;Server=fe80::1;UID=u;PWD=p" + kFreeTdsTail},
      {"Provider=SQLOLEDB;Data Source=::1;User ID=u;Password=p", D::FreeTds,
       "Driver=FreeTDS;Server=::1;UID=u;PWD=p" + kFreeTdsTail},
      {"Provider=SQLOLEDB;Data Source=db01:1433;User ID=u;Password=p", D::FreeTds,
       "Driver=FreeTDS;Server=db01;Port=1433;UID=u;PWD=p" + kFreeTdsTail},
      {"Provider=SQLOLEDB;Data Source=[::1],1433;User ID=u;Password=p", D::Microsoft18,
       "Driver={ODBC Driver 18 for SQL Server};Server=tcp:[::1],1433;UID=u;PWD=p;Encrypt=no;"},
      {"Provider=SQLOLEDB;Data Source=ignored;Network Address=10.1.1.1,1433;User ID=u;"
       "Password=p",
       D::FreeTds, "Driver=FreeTDS;Server=10.1.1.1;Port=1433;UID=u;PWD=p" + kFreeTdsTail},
      {"Provider=MSOLEDBSQL19;Data Source=.;User ID=u;Password=p", D::FreeTds,
       "Driver=FreeTDS;Server=localhost;UID=u;PWD=p" + kFreeTdsTail + "Encryption=require;"},
      // Microsoft's drivers: the encryption is always written (18 encrypts by
      // default, the old providers did not).
      {"Provider=SQLOLEDB;Data Source=db01\\SURVEYS;Initial Catalog=Panel;User ID=u;"
       "Password='p}w;'",
       D::Microsoft18,
       "Driver={ODBC Driver 18 for SQL Server};Server=db01\\SURVEYS;Database=Panel;UID=u;"
       "PWD={p}}w;};Encrypt=no;"},
      {"Provider=SQLNCLI;Data Source=db01,1433;User ID=u;Password=p;Encrypt=strict;"
       "Trust Server Certificate=no",
       D::Microsoft18,
       "Driver={ODBC Driver 18 for SQL Server};Server=tcp:db01,1433;UID=u;PWD=p;Encrypt=strict;"
       "TrustServerCertificate=no;"},
      {"Provider=SQLOLEDB;Data Source=db01;User ID=u;Password=p;Use Encryption for Data=True",
       D::Microsoft17,
       "Driver={ODBC Driver 17 for SQL Server};Server=tcp:db01;UID=u;PWD=p;Encrypt=yes;"},
      // What cannot be honoured is refused, saying what to write instead and
      // never showing the password.
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb;Password=secret", D::FreeTds,
       "error: Invalid connectstring: the provider 'Microsoft.Jet.OLEDB.4.0' is not a SQL Server "
       "provider; write Provider=SQLOLEDB (or SQLNCLI11, MSOLEDBSQL) with Data Source, Initial "
       "Catalog, User ID and Password, or an ODBC string such as "
       "Driver=FreeTDS;Server=host;Port=1433;Database=db;UID=user;PWD=password"},
      {"Provider=SQLOLEDB;Data Source=db;Integrated Security=SSPI;User ID=u;Password=secret",
       D::Microsoft18,
       "error: Invalid connectstring: Windows integrated security is not available here; write "
       "User ID and Password of a SQL Server login instead, or, where Kerberos is set up, an ODBC "
       "string with Trusted_Connection=Yes"},
      {"Provider=SQLOLEDB;Data Source=db;Password=secret", D::FreeTds,
       "error: Invalid connectstring: no User ID; write User ID and Password of a SQL Server "
       "login"},
      {"Provider=SQLOLEDB;User ID=u;Password=secret", D::FreeTds,
       "error: Invalid connectstring: no Data Source; write Data Source=host, host,port or "
       "host\\instance"},
      {"Provider=SQLOLEDB;Data Source=np:\\\\db\\pipe\\sql\\query;User ID=u", D::FreeTds,
       "error: Invalid connectstring: the protocol prefix 'np:' of Data Source is not available "
       "here; write the server as host, host,port or host\\instance"},
      {"Provider=SQLOLEDB;Data Source=db,70000;User ID=u", D::FreeTds,
       "error: Invalid connectstring: the port after ',' in Data Source must be a number from 1 "
       "to 65535"},
      {"Provider=SQLOLEDB;Data Source=db;User ID=u;Encrypt=always", D::FreeTds,
       "error: Invalid connectstring: Encrypt must be true, false, yes, no, optional, mandatory "
       "or strict"},
      {"Provider=SQLOLEDB;Data Source=db;User ID=u;Encrypt=strict", D::FreeTds,
       "error: Invalid connectstring: Encrypt=Strict needs Microsoft's ODBC Driver 18 for SQL "
       "Server; write Encrypt=Mandatory for FreeTDS"},
      {"Provider=SQLOLEDB;Data Source=db;User ID=u;Password=\"x};secret\"", D::FreeTds,
       "error: Invalid connectstring: the value given for PWD holds '};', which FreeTDS cannot "
       "read"},
      {"Provider=SQLOLEDB;Data Source=db;User ID=u;Failover Partner=db2", D::FreeTds,
       "error: Invalid connectstring: the key 'Failover Partner' cannot be honoured here; FreeTDS "
       "does not fail over; name the server to connect to in Data Source"},
      {"Provider=SQLOLEDB;Data Source=db;User ID=u;Frobnicate=1", D::FreeTds,
       "error: Invalid connectstring: the key 'Frobnicate' is not read here; leave it out, or pass "
       "an ODBC string (Driver=...) with the driver's own keys; docs/sql-server.md lists the keys "
       "read"},
      {"Provider=SQLOLEDB;Data Source=db;User ID=u;Password=x;secret=y", D::FreeTds,
       "error: Invalid connectstring: pair 5, after the password, is not a key read here; if it "
       "is part of the password, write the password in quotes: Password=\"...\""},
      {"Provider=MSOLEDBSQL99999999999;Data Source=db;User ID=u;Password=secret", D::FreeTds,
       "error: Invalid connectstring: the provider 'MSOLEDBSQL99999999999' is not a SQL Server "
       "provider; write Provider=SQLOLEDB (or SQLNCLI11, MSOLEDBSQL) with Data Source, Initial "
       "Catalog, User ID and Password, or an ODBC string such as "
       "Driver=FreeTDS;Server=host;Port=1433;Database=db;UID=user;PWD=password"},
      {"Provider=SQLOLEDB;Data Source=db;User ID=CORP\\alice;Password=secret", D::FreeTds,
       "error: Invalid connectstring: User ID names a Windows account (DOMAIN\\user); Windows "
       "logins are not available here; write User ID and Password of a SQL Server login"},
      {"Provider=SQLOLEDB;Data Source=db;User ID=u;Password=secret;Authentication="
       "ActiveDirectoryPassword",
       D::FreeTds,
       "error: Invalid connectstring: only Authentication=SqlPassword is available here; write "
       "User ID and Password of a SQL Server login"},
      {"Provider=SQLOLEDB;Data Source=[::1;User ID=u;Password=secret", D::FreeTds,
       "error: Invalid connectstring: the IPv6 address in Data Source has no closing ']'; write "
       "[address],port"},
      {"Provider=SQLOLEDB;Data Source=db:99999;User ID=u;Password=secret", D::FreeTds,
       "error: Invalid connectstring: the port after ':' in Data Source must be a number from 1 "
       "to 65535"},
      {"Provider='SQLOLEDB;Data Source=db", D::FreeTds,
       "error: Invalid connectstring: the value of pair 1 has no closing '"},
  };
  for (const Case& c : cases) {
    const std::string odbc = Translated(c.text, c.driver);
    EXPECT_EQ(odbc, c.odbc) << c.text;
    if (odbc.rfind("error: ", 0) == 0) {
      EXPECT_EQ(odbc.find("secret"), std::string::npos);
    }
  }
  {
    // Microsoft's driver is taken when unixODBC has it registered, 18 before
    // 17: the export then fails loading the (absent) library. Child
    // processes, as unixODBC keeps the first ini folder it read.
    test::CTempDir dir;
    ASSERT_EQ(
        test::RunProcess(ZUVSAMPLE_BIN, {"--out-dir", dir.path(), "--interviews", "2"}).exitCode,
        0);
    test::CProcessOptions options;
    options.environment = {{"ODBCSYSINI", dir.path()}};
    const std::vector<std::string> args = {
        "--source",
        dir.file("survey.zuv"),
        "--format",
        "LEGACY",
        "--connectstring",
        "Provider=SQLOLEDB;Data Source=127.0.0.1,1;User ID=u;Password=Secr3t!",
        "--id",
        "7",
        "--target",
        dir.file("t.zuv"),
        "--endpause",
        "UNPAUSE"};
    std::ofstream(dir.file("odbcinst.ini"))
        << "[FreeTDS]\nDriver=libtdsodbc.so\n[ODBC Driver 17 for SQL Server]\nDriver=/x/17.so\n";
    for (const char* version : {"17", "18"}) {
      if (version == std::string("18")) {
        std::ofstream(dir.file("odbcinst.ini"), std::ios::app)
            << "[ODBC Driver 18 for SQL Server]\nDriver=/x/18.so\n";
      }
      const test::CProcessResult r = test::RunProcess(ZUVEXPORT_BIN, args, options);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_NE(r.out.find(std::string("Can't open lib '/x/") + version + ".so'"),
                std::string::npos)
          << r.out;
      EXPECT_EQ((r.out + r.err).find("Secr3t!"), std::string::npos);
    }
  }
  {
    // A translated string reaches FreeTDS itself (not the driver manager's
    // "Data source name not found"), and its failure shows no password.
    std::string description;
    try {
      ConnectOdbc(ToOdbcConnectionString("Provider=SQLOLEDB.1;Data Source=127.0.0.1,1;User ID=u;"
                                         "Password=Secr3t!;Connect Timeout=5",
                                         SqlServerOdbcDriver::FreeTds),
                  5);
    } catch (const CExportError& e) {
      description = e.Source() + " " + e.Description();
    }
    EXPECT_NE(description.find("[FreeTDS]"), std::string::npos) << description;
    EXPECT_NE(description.find("[08S01]"), std::string::npos) << description;
    EXPECT_EQ(description.find("Secr3t!"), std::string::npos) << description;
  }
}

// Logins reach the server as the caller wrote them: the stand-in decodes
// LOGIN7 as SQL Server does and accepts only its one login.
TEST(PlatformConnectionString, LoginsReachTheServerAsWritten) {
  if (test::CSqlServer::IsReal()) return;  // the logins are the stand-in's
  test::CTempDir dir;
  const std::string log = dir.file("logins.txt");
  struct Login {
    std::string user, password, database;
  };
  // Values in the ADO forms: double quotes, single quotes and braces, each
  // with its closing character doubled inside.
  auto doubleQuoted = [](const std::string& v) { return "\"" + Replaced(v, "\"", "\"\"") + "\""; };
  auto singleQuoted = [](const std::string& v) { return "'" + Replaced(v, "'", "''") + "'"; };
  auto braced = [](const std::string& v) { return "{" + Replaced(v, "}", "}}") + "}"; };
  // FreeTDS's own form: braces, nothing doubled (no "};" inside).
  auto freeTds = [](const std::string& v) { return "{" + v + "}"; };
  const std::vector<Login> logins = {{"jürgen", "pässwörd", "Pänel"},
                                     {";Jö=r\"g'{en}", "{p;ä=s\"s'w}rd=", "\"Pä;n{e}l'"},
                                     {"=ü'", ";=pä\"ß;", "'Pä=nel;\""}};
  for (const Login& login : logins) {
    SCOPED_TRACE(login.user);
    test::CSqlServer server(dir.file("server.db"),
                            {"--user", login.user, "--password", login.password, "--database",
                             login.database, "--login-log", log});
    const std::string address = "127.0.0.1," + server.Port();
    const std::string app = "'Panel=export; {nightly}";
    std::vector<std::string> texts;
    const std::vector<std::function<std::string(const std::string&)>> quotes = {
        doubleQuoted, singleQuoted, braced};
    for (const auto& quote : quotes) {
      texts.push_back("Provider=SQLOLEDB.1;Data Source=" + address + ";Initial Catalog=" +
                      quote(login.database) + ";User ID=" + quote(login.user) +
                      ";Password=" + quote(login.password) + ";Application Name=" + quote(app));
    }
    // Provider-string keys, overridden by their initialization-string
    // counterparts written before or after them.
    texts.push_back(
        "Provider=MSOLEDBSQL;Server=old-host,1;UID=old;PWD=old;Database=Old;APP=old;"
        "Data Source=" +
        address + ";User ID=" + doubleQuoted(login.user) +
        ";Password=" + doubleQuoted(login.password) + ";Initial Catalog=" + braced(login.database) +
        ";Application Name=" + braced(app) + ";Timeout=30;Encrypt=no");
    texts.push_back("Provider=SQLNCLI11;User ID=" + singleQuoted(login.user) +
                    ";Password=" + singleQuoted(login.password) + ";Initial Catalog=" +
                    singleQuoted(login.database) + ";Application Name=" + doubleQuoted(app) +
                    ";Data Source=127.0.0.1:" + server.Port() + ";Server=old-host;UID=old");
    // A plain FreeTDS string, its braced application name last.
    const std::string odbc = "Driver=FreeTDS;Server=127.0.0.1;Port=" + server.Port() +
                             ";TDS_Version=7.4;ClientCharset=UTF-8;UID=" + freeTds(login.user) +
                             ";PWD=" + freeTds(login.password) +
                             ";Database=" + freeTds(login.database) + ";APP=" + freeTds(app);
    texts.push_back(odbc);
    for (const std::string& text : texts) {
      SCOPED_TRACE(text);
      std::string description;
      try {
        const std::string translated = ToOdbcConnectionString(text, SqlServerOdbcDriver::FreeTds);
        EXPECT_EQ(ConnectOdbc(translated, 10)->QueryScalar("SELECT 1"), CValue::FromInt32(1));
      } catch (const std::exception& e) {
        description = e.what();
      }
      EXPECT_EQ(description, "");
      EXPECT_EQ(LastLogin(log, "kind"), "SQL");
      EXPECT_EQ(LastLogin(log, "user"), login.user);
      EXPECT_EQ(LastLogin(log, "database"), login.database);
      EXPECT_EQ(LastLogin(log, "app"), app);
    }
    {
      // A wrong password: the server's refusal, and never the password.
      const CExportError error = [&] {
        try {
          ConnectOdbc(Replaced(odbc, freeTds(login.password), "{" + login.password + "x}"), 10);
        } catch (const CExportError& e) {
          return e;
        }
        return CExportError(0, "", "connected");
      }();
      EXPECT_EQ(error.Source(), "[FreeTDS][SQL Server]");
      EXPECT_EQ(error.Description().rfind("[42000] Login failed for user '" + login.user + "'.", 0),
                0u)
          << error.Description();
      EXPECT_EQ(error.Description().find(login.password), std::string::npos);
    }
  }
  {
    // IPv6: the address without its brackets, the port apart.
    test::CSqlServer server(dir.file("server.db"), {"--host", "::1", "--login-log", log});
    const std::string text = "Provider=SQLOLEDB;Data Source=[::1]," + server.Port() +
                             ";Initial Catalog=Panel;User ID=exporter;Password=secret;"
                             "Workstation ID=\"WS 1; panel\"";
    EXPECT_EQ(ConnectOdbc(ToOdbcConnectionString(text, SqlServerOdbcDriver::FreeTds), 10)
                  ->QueryScalar("SELECT 1"),
              CValue::FromInt32(1));
    EXPECT_EQ(LastLogin(log, "host"), "WS 1; panel");
  }
  {
    // A Windows account in a plain FreeTDS string is FreeTDS's NTLM login,
    // as FreeTDS documents it; an ADO string with one is refused before
    // anything is sent.
    test::CSqlServer server(dir.file("server.db"), {"--login-log", log});
    const std::string odbc = "Driver=FreeTDS;Server=127.0.0.1;Port=" + server.Port() +
                             ";UID=CORP\\alice;PWD=secret;TDS_Version=7.4";
    EXPECT_THROW(ConnectOdbc(odbc, 10), CExportError);
    EXPECT_EQ(LastLogin(log, "kind"), "NTLM");
    EXPECT_EQ(LastLogin(log, "user"), "");
    const std::string before = test::ReadFileBytes(log);
    EXPECT_THROW(ToOdbcConnectionString("Provider=SQLOLEDB;Data Source=127.0.0.1," + server.Port() +
                                            ";User ID=CORP\\alice;Password=secret",
                                        SqlServerOdbcDriver::FreeTds),
                 std::invalid_argument);
    EXPECT_EQ(test::ReadFileBytes(log), before);
  }
}

}  // namespace
}  // namespace zx
