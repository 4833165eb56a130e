// Connection strings as callers write them: parsing by the OLE DB rules and
// the translation of SQL Server's ADO strings into ODBC strings.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "platform/odbc/connection_string.hpp"
#include "platform/odbc/source.hpp"
#include "support/process.hpp"
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

}  // namespace
}  // namespace zx
