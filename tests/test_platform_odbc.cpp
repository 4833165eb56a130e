// The ODBC source layer against the real SQLite ODBC driver through unixODBC.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/error.hpp"
#include "platform/odbc/connect_checks.hpp"
#include "platform/odbc/odbc_text.hpp"
#include "platform/odbc/source.hpp"
#include "platform/odbc/sqlite_text.hpp"
#include "platform/paths.hpp"
#include "support/sql_server.hpp"
#include "support/sqlite_file.hpp"
#include "support/sqlite_source_db.hpp"
#include "support/sqlite_values.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

using testing::CSqliteSourceDb;
using Type = CValue::Type;

CDateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second,
                       uint32_t nanosecond = 0) {
  return CDateTime::From(year, month, day, hour, minute, second, nanosecond);
}

std::vector<std::vector<CValue>> ReadAll(CSourceConnection& connection, const std::string& sql) {
  std::vector<std::vector<CValue>> rows;
  auto recordset = connection.Execute(sql);
  for (; !recordset->IsEOF(); recordset->MoveNext()) {
    std::vector<CValue> row;
    for (int i = 0; i < recordset->FieldCount(); ++i) row.push_back(recordset->FieldValue(i));
    rows.push_back(std::move(row));
  }
  return rows;
}

CExportError ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const CExportError& error) {
    return error;
  }
  ADD_FAILURE() << "no CExportError";
  return CExportError(0, "", "");
}

TEST(PlatformOdbc, ValuesKeepTheirTypes) {
  CSqliteSourceDb db;
  db.Exec(
      "CREATE TABLE t(id INTEGER, i INTEGER, s SMALLINT, ti TINYINT, b BIGINT, r REAL,"
      " d DOUBLE, n NUMERIC(10,2), dec DECIMAL(9,3), tx TEXT, vc VARCHAR(5), dt DATETIME,"
      " bl BLOB, bt BIT, u);"
      "INSERT INTO t VALUES(1, -2147483648, -32768, 255, 9007199254740993, 0.5, -1.25e+300,"
      " 3.25, 1.125, 'Données été', 'héhéhé', '2014-12-31 23:59:58.125', x'00ff10',"
      " 1, 42);"
      "INSERT INTO t VALUES(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
      " NULL, NULL, NULL, NULL);"
      // What SQLite accepts beyond the declared types: every value is kept.
      "INSERT INTO t VALUES(3, 1099511627776, 70000, 'x', '', 'abc', 7, 3, 'n/a', '', '',"
      " 'not a date', x'', 0, 1.5);"
      "INSERT INTO t VALUES(4, 1.5, 0, 0, -1, 0, 0, 0, 0, '007', 'a''b', '2014-02-29 10:00:00',"
      " zeroblob(3), 5, '007');"
      "INSERT INTO t VALUES(5, 2147483648, 32767, 0, 0, 0, 0, 0, 0, '', '', '2016-02-29',"
      " NULL, NULL, 2147483648);");
  auto connection = ConnectOdbc(db.ConnectString(), 300);
  EXPECT_EQ(connection->Dialect(), SqlDialect::Sqlite);
  const auto rows = ReadAll(*connection, "SELECT * FROM t ORDER BY id");
  ASSERT_EQ(rows.size(), 5u);
  {
    const auto& row = rows[0];
    EXPECT_EQ(row[0], CValue::FromInt32(1));
    EXPECT_EQ(row[1], CValue::FromInt32(INT32_MIN));
    EXPECT_EQ(row[2], CValue::FromInt16(-32768));
    EXPECT_EQ(row[3], CValue::FromInt16(255));
    EXPECT_EQ(row[4], CValue::FromInt64(9007199254740993));
    EXPECT_EQ(row[5], CValue::FromDouble(0.5));
    EXPECT_EQ(row[6], CValue::FromDouble(-1.25e300));
    EXPECT_EQ(row[7], CValue::FromDouble(3.25));
    EXPECT_EQ(row[8], CValue::FromDouble(1.125));
    EXPECT_EQ(row[9], CValue::FromText("Données été"));
    EXPECT_EQ(row[10], CValue::FromText("héhéhé"));  // longer than declared
    EXPECT_EQ(row[11], CValue::FromDateTime(MakeDateTime(2014, 12, 31, 23, 59, 58, 125000000)));
    EXPECT_EQ(row[12], CValue::FromBinary({0x00, 0xff, 0x10}));
    EXPECT_EQ(row[13], CValue::FromBool(true));
    EXPECT_EQ(row[14], CValue::FromInt32(42));
  }
  for (size_t i = 1; i < rows[1].size(); ++i) EXPECT_TRUE(rows[1][i].IsNull()) << i;
  {
    const auto& row = rows[2];
    EXPECT_EQ(row[1], CValue::FromInt64(1099511627776));  // widened, not cut
    EXPECT_EQ(row[2], CValue::FromInt32(70000));
    EXPECT_EQ(row[3], CValue::FromText("x"));
    EXPECT_EQ(row[4], CValue::FromText(""));
    EXPECT_EQ(row[5], CValue::FromText("abc"));
    EXPECT_EQ(row[6], CValue::FromDouble(7));
    EXPECT_EQ(row[8], CValue::FromText("n/a"));
    EXPECT_EQ(row[9], CValue::FromText(""));  // empty, not NULL
    EXPECT_EQ(row[11], CValue::FromText("not a date"));
    EXPECT_EQ(row[12], CValue::FromBinary({}));
    EXPECT_EQ(row[13], CValue::FromBool(false));
    EXPECT_EQ(row[14], CValue::FromDouble(1.5));
  }
  {
    const auto& row = rows[3];
    EXPECT_EQ(row[1], CValue::FromDouble(1.5));
    EXPECT_EQ(row[9], CValue::FromText("007"));
    EXPECT_EQ(row[10], CValue::FromText("a'b"));
    EXPECT_EQ(row[11], CValue::FromText("2014-02-29 10:00:00"));  // no such day
    EXPECT_EQ(row[12], CValue::FromBinary({0, 0, 0}));
    EXPECT_EQ(row[13], CValue::FromBool(true));
    EXPECT_EQ(row[14], CValue::FromText("007"));
  }
  {
    const auto& row = rows[4];
    EXPECT_EQ(row[1], CValue::FromInt64(2147483648));
    EXPECT_EQ(row[2], CValue::FromInt16(32767));
    EXPECT_EQ(row[11], CValue::FromDateTime(MakeDateTime(2016, 2, 29, 0, 0, 0)));
    EXPECT_EQ(row[14], CValue::FromInt64(2147483648));
  }
}

TEST(PlatformOdbc, ExpressionsAndLongValues) {
  CSqliteSourceDb db;
  const std::string longText(100000, 'e');
  db.Exec(
      "CREATE TABLE t(id INTEGER, tx TEXT, bl BLOB);"
      "INSERT INTO t VALUES(1, 'é" +
      longText +
      "', randomblob(70000));"
      "INSERT INTO t VALUES(2, 'short', x'01');"
      "INSERT INTO t VALUES(3, NULL, NULL);");
  for (const COdbcOptions& options :
       {COdbcOptions{300, false, false}, COdbcOptions{300, true, false},
        COdbcOptions{300, false, true}, COdbcOptions{300, true, true}}) {
    SCOPED_TRACE(::testing::Message() << "declared types " << options.declaredTypes << ", unbound "
                                      << options.unboundLongValues);
    auto connection = ConnectOdbc(db.ConnectString(), options);
    const auto rows = ReadAll(*connection, "SELECT id, tx, bl, length(bl), id FROM t ORDER BY id");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], CValue::FromText("é" + longText));
    EXPECT_EQ(rows[0][2].Binary().bytes.size(), 70000u);
    EXPECT_EQ(rows[0][3], options.declaredTypes ? CValue::FromText("70000")  // driver's varchar
                                                : CValue::FromInt32(70000));
    EXPECT_EQ(rows[1][1], CValue::FromText("short"));
    EXPECT_EQ(rows[1][2], CValue::FromBinary({1}));
    EXPECT_EQ(rows[1][4], CValue::FromInt32(2));
    EXPECT_TRUE(rows[2][1].IsNull());
    EXPECT_TRUE(rows[2][2].IsNull());
  }
  // Expressions have no declared type: their values decide, as SQL Server's
  // int results for COUNT and MAX.
  auto connection = ConnectOdbc(db.ConnectString(), 300);
  EXPECT_EQ(connection->QueryScalar("SELECT COUNT(*) FROM t"), CValue::FromInt32(3));
  EXPECT_EQ(connection->QueryScalar("SELECT MAX(id) FROM t"), CValue::FromInt32(3));
  EXPECT_EQ(connection->QueryScalar("SELECT MAX(id) * 4294967296 FROM t"),
            CValue::FromInt64(3 * 4294967296LL));
  EXPECT_EQ(connection->QueryScalar("SELECT AVG(id) FROM t"), CValue::FromDouble(2));
  EXPECT_EQ(connection->QueryScalar("SELECT MAX(tx) FROM t WHERE id = 2"),
            CValue::FromText("short"));
  EXPECT_TRUE(connection->QueryScalar("SELECT MAX(id) FROM t WHERE id > 5").IsNull());
  EXPECT_TRUE(connection->QueryScalar("SELECT id FROM t WHERE id > 5").IsNull());
}

TEST(PlatformOdbc, DeclaredTypesReadNatively) {
  CSqliteSourceDb db;
  db.Exec(
      "CREATE TABLE t(i INTEGER, s SMALLINT, b BIGINT, r REAL, bt BIT, dt DATETIME,"
      " vc VARCHAR(3));"
      "INSERT INTO t VALUES(7, -3, 1099511627776, 2.5, 1, '2014-12-31 10:11:12', 'abc');");
  auto connection = ConnectOdbc(db.ConnectString(), COdbcOptions{300, true});
  auto rows = ReadAll(*connection, "SELECT * FROM t");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(
      rows[0],
      (std::vector<CValue>{
          CValue::FromInt32(7), CValue::FromInt16(-3), CValue::FromInt64(1099511627776),
          CValue::FromDouble(2.5), CValue::FromBool(true),
          CValue::FromDateTime(MakeDateTime(2014, 12, 31, 10, 11, 12)), CValue::FromText("abc")}));
  // A value longer than its declared size cannot be completed in a block:
  // the read fails rather than cut it.
  db.Exec("INSERT INTO t(vc) VALUES('abcdefghijklmnopq')");
  const CExportError error = ErrorOf([&] { ReadAll(*connection, "SELECT vc FROM t"); });
  EXPECT_EQ(error.Code(), codes::kFail);
  EXPECT_NE(error.Description().find("vc"), std::string::npos) << error.Description();
}

TEST(PlatformOdbc, BlockBoundaries) {
  // One INTEGER column read natively fills blocks of 1000 rows.
  CSqliteSourceDb db;
  db.Exec(
      "CREATE TABLE t(id INTEGER PRIMARY KEY, v INTEGER);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2001)"
      " INSERT INTO t SELECT i, i * 3 FROM n;");
  for (bool declaredTypes : {true, false}) {
    auto connection = ConnectOdbc(db.ConnectString(), COdbcOptions{300, declaredTypes});
    for (int count : {0, 1, 2, 999, 1000, 1001, 2000, 2001}) {
      SCOPED_TRACE(::testing::Message() << count << " rows, declared types " << declaredTypes);
      auto recordset =
          connection->Execute("SELECT id, v FROM t WHERE id <= " + std::to_string(count));
      EXPECT_EQ(recordset->FieldCount(), 2);
      int seen = 0;
      for (; !recordset->IsEOF(); recordset->MoveNext()) {
        ++seen;
        ASSERT_EQ(recordset->FieldValue(0), CValue::FromInt32(seen));
        ASSERT_EQ(recordset->FieldValue("v"), CValue::FromInt32(seen * 3));
      }
      EXPECT_EQ(seen, count);
      EXPECT_EQ(ErrorOf([&] { recordset->MoveNext(); }).Code(), codes::Dao(3021));
    }
  }
}

TEST(PlatformOdbc, FieldsByName) {
  CSqliteSourceDb db;
  db.Exec("CREATE TABLE t(\"Q12_1\" INTEGER, \"Cle 1\" TEXT); INSERT INTO t VALUES(5, 'x');");
  auto connection = ConnectOdbc(db.ConnectString(), 300);
  auto recordset = connection->Execute("SELECT \"Q12_1\", \"Cle 1\", 7 AS \"Q12_1\" FROM t");
  ASSERT_EQ(recordset->FieldCount(), 3);
  EXPECT_EQ(recordset->FieldName(1), "Cle 1");
  EXPECT_EQ(recordset->FieldIndex("Cle 1"), 1);
  EXPECT_EQ(recordset->FieldIndex("Q12_1"), 0);  // the first of two
  EXPECT_EQ(recordset->FieldIndex("q12_1"), -1);
  EXPECT_EQ(recordset->FieldValue("Cle 1"), CValue::FromText("x"));
  const CExportError missing = ErrorOf([&] { recordset->FieldValue("Q99_1"); });
  EXPECT_TRUE(missing.IsMissingField());
  EXPECT_EQ(missing.Description(),
            "Item cannot be found in the collection corresponding to the requested name or "
            "ordinal.");
  EXPECT_TRUE(ErrorOf([&] { recordset->FieldValue(3); }).IsMissingField());
}

TEST(PlatformOdbc, DriverErrorsCarryTheDriverText) {
  {
    const CExportError error =
        ErrorOf([] { ConnectOdbc("Driver=NoSuchDriver;Database=/nonexistent", 300); });
    EXPECT_EQ(error.Code(), codes::kFail);
    EXPECT_EQ(error.Source(), "[unixODBC][Driver Manager]");
    EXPECT_NE(error.Description().find("NoSuchDriver"), std::string::npos) << error.Description();
    EXPECT_EQ(error.Description().rfind("[01000] ", 0), 0u) << error.Description();
  }
  {
    // A SQLite database file that is not there is named, and never created
    // (the driver would create an empty one), in a missing folder too.
    test::CTempDir dir;
    for (const std::string& path : {dir.file("none.db"), dir.file("nodir/none.db")}) {
      for (const char* extra : {"", ";StepAPI=1", "; "}) {
        const CExportError error =
            ErrorOf([&] { ConnectOdbc("Driver=SQLite3;Database=" + path + extra, 300); });
        EXPECT_EQ(error.Code(), codes::kFileNotFound);
        EXPECT_EQ(error.Description(), "The source database '" + path + "' does not exist");
        EXPECT_FALSE(std::filesystem::exists(path));
      }
    }
    // Braced values and keys in any case are read as the driver manager reads them.
    const std::string braced = dir.file("a;b}.db");
    const CExportError error = ErrorOf([&] {
      ConnectOdbc(
          "driver={SQLite3};DATABASE={" + std::string(dir.file("a;b}}.db")) + "};PWD=secret", 300);
    });
    EXPECT_EQ(error.Description(), "The source database '" + braced + "' does not exist");
    // A folder is not a database: the driver's reason comes through.
    const CExportError folder =
        ErrorOf([&] { ConnectOdbc("Driver=SQLite3;Database=" + dir.path(), 300); });
    EXPECT_EQ(folder.Description(), "[HY000] connect failed");
    EXPECT_EQ(DatabaseNameForMessages("Driver=SQLite3;Database=" + dir.path()),
              "'" + dir.path() + "'");
    EXPECT_EQ(DatabaseNameForMessages("Driver=FreeTDS;Server= db1 ;Database={x;y};UID=u;PWD=p"),
              "'x;y' on server 'db1'");
    EXPECT_EQ(DatabaseNameForMessages("DSN=survey;PWD=p"), "data source 'survey'");
    EXPECT_EQ(DatabaseNameForMessages("PWD=p"), "(unnamed)");
    // Names outside ASCII, in the path, the SQL, the column names and the
    // driver's messages, arrive and come back as written.
    std::filesystem::create_directory(PathFromUtf8(dir.file("Dossier é")));
    const std::string accented = dir.file("Dossier é/Pänel.db");
    test::RunSql(accented,
                 "CREATE TABLE [Pänel] ([Größe] TEXT); INSERT INTO [Pänel] VALUES ('été');");
    auto connection = ConnectOdbc("Driver=SQLite3;Database=" + accented, 300);
    auto recordset =
        connection->Execute("SELECT [Größe] AS [Größe ✓] FROM [Pänel] WHERE [Größe] = 'été'");
    EXPECT_EQ(recordset->FieldName(0), "Größe ✓");
    EXPECT_EQ(recordset->FieldValue(0), CValue::FromText("été"));
    const CExportError missing = ErrorOf([&] { connection->Execute("SELECT * FROM [Nöpe]"); });
    EXPECT_EQ(missing.Description().rfind("[HY000] no such table: Nöpe", 0), 0u)
        << missing.Description();
  }
  {
    // Texts cross to wide entry points as UTF-16, surrogate pairs included;
    // a text that is not UTF-8 is named, never shown.
    const COdbcWideText wide = ToOdbcWide("aé✓📊", "test text");
    EXPECT_EQ(wide, (COdbcWideText{'a', 0xE9, 0x2713, 0xD83D, 0xDCCA}));
    EXPECT_EQ(FromOdbcWide(wide.data(), wide.size()), "aé✓📊");
    const COdbcWideText lone = {'a', 0xD83D};
    EXPECT_EQ(FromOdbcWide(lone.data(), lone.size()), "a\xEF\xBF\xBD");
    for (const char* bad : {"PWD=s\xFF", "PWD=s\xC3", "PWD=s\xC0\xAF", "PWD=s\xED\xA0\x80"}) {
      const CExportError error =
          ErrorOf([&] { ConnectOdbc(std::string("Driver=FreeTDS;Server=x;") + bad, 5); });
      EXPECT_EQ(error.Description(), "The connection string is not UTF-8 text (byte 30)") << bad;
    }
  }
  CSqliteSourceDb db;
  auto connection = ConnectOdbc(db.ConnectString(), 300);
  {
    const CExportError error =
        ErrorOf([&] { connection->Execute("SELECT * FROM [Orvix0001Data]"); });
    EXPECT_TRUE(error.IsTableNotFound());
    EXPECT_EQ(error.Source(), "[SQLite]");
    EXPECT_EQ(error.Description().rfind("[HY000] no such table: Orvix0001Data", 0), 0u)
        << error.Description();
  }
  {
    const CExportError error = ErrorOf([&] { connection->QueryScalar("SELEC 1"); });
    EXPECT_NE(error.Description().find("syntax error"), std::string::npos);
  }
  // The connection stays usable after a failed statement.
  EXPECT_EQ(connection->QueryScalar("SELECT 1"), CValue::FromInt32(1));
}

// Every wire type through FreeTDS arrives as the value it holds; the stand-in
// answers as a case-sensitive server and drops connections when told.
TEST(PlatformOdbc, SqlServerWireTypes) {
  test::CTempDir dir;
  test::CSqlServer server(dir.file("server.db"));
  auto connection = ConnectOdbc(server.ConnectString(), 300);
  EXPECT_EQ(connection->Dialect(), SqlDialect::SqlServer);
  // Long enough for several reads of a KiB and several wire chunks.
  std::string longText;
  for (int i = 0; i < 700; ++i) longText += "Données été ✓ " + std::to_string(i) + " ";
  connection->Execute(
      "IF OBJECT_ID(N'dbo.Types', N'U') IS NOT NULL DROP TABLE [dbo].[Types];"
      "CREATE TABLE [dbo].[Types] ([id] INT NOT NULL, [i] INT NULL, [s] SMALLINT NULL,"
      " [ti] TINYINT NULL, [b] BIGINT NULL, [bt] BIT NULL, [f] FLOAT NULL, [r] REAL NULL,"
      " [dt] DATETIME NULL, [dt2] DATETIME2(3) NULL, [dec] DECIMAL(9,3) NULL,"
      " [nv] NVARCHAR(40) NULL, [nmax] NVARCHAR(MAX) NULL, [vc] VARCHAR(20) NULL,"
      " [g] UNIQUEIDENTIFIER NULL)");
  connection->Execute(
      "INSERT INTO [dbo].[Types] VALUES (1, -2147483648, -32768, 255, 9007199254740993, 1,"
      " -1.25e+300, 0.5, '2014-12-31T23:59:58.997', '2014-12-31T23:59:58.123', 123456.789,"
      " N'Données été', N'" +
      longText +
      "', 'café', 'a1b2c3d4-0000-4000-a000-123456789abc'),"
      " (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  const auto rows = ReadAll(*connection, "SELECT * FROM [Types] ORDER BY [id]");
  ASSERT_EQ(rows.size(), 2u);
  const std::vector<CValue> want = {
      CValue::FromInt32(1),
      CValue::FromInt32(-2147483647 - 1),
      CValue::FromInt16(-32768),
      CValue::FromInt16(255),
      CValue::FromInt64(9007199254740993),
      CValue::FromBool(true),
      CValue::FromDouble(-1.25e+300),
      CValue::FromDouble(0.5),
      CValue::FromDateTime(MakeDateTime(2014, 12, 31, 23, 59, 58, 997000000)),
      CValue::FromDateTime(MakeDateTime(2014, 12, 31, 23, 59, 58, 123000000)),
      CValue::FromDouble(123456.789),
      CValue::FromText("Données été"),
      CValue::FromText(longText),
      CValue::FromText("café"),
      CValue::FromText("A1B2C3D4-0000-4000-A000-123456789ABC")};
  ASSERT_EQ(rows[0].size(), want.size());
  for (size_t c = 0; c < want.size(); ++c) {
    EXPECT_EQ(rows[0][c], want[c]) << "column " << c;
    if (c > 0) {
      EXPECT_TRUE(rows[1][c].IsNull()) << "column " << c;
    }
  }
  if (test::CSqlServer::IsReal()) return;

  test::RunSql(dir.file("server.db"),
               "CREATE TABLE Block (id INT, v INT);"
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1500)"
               " INSERT INTO Block SELECT i, i * 3 FROM n;");
  {
    SCOPED_TRACE("a case-sensitive collation");
    test::CSqlServer strict(dir.file("server.db"), {"--case-sensitive"});
    auto strictConnection = ConnectOdbc(strict.ConnectString(), 300);
    auto& connection = *strictConnection;
    const CExportError column = ErrorOf([&] { ReadAll(connection, "SELECT ID FROM Block"); });
    EXPECT_EQ(column.Source(), "[FreeTDS][SQL Server]");
    EXPECT_EQ(column.Description(), "[42S22] Invalid column name 'ID'.");
    const CExportError table = ErrorOf([&] { ReadAll(connection, "SELECT id FROM [block]"); });
    EXPECT_EQ(table.Description(), "[42S02] Invalid object name 'block'.");
    EXPECT_TRUE(table.IsTableNotFound());
    EXPECT_FALSE(column.IsTableNotFound());
    // A result left after its first block is cancelled (an attention) by the next
    // statement, while the server is still sending it (megabytes).
    auto open = connection.Execute("SELECT a.id, b.v FROM Block a, Block b WHERE b.id <= 200");
    EXPECT_EQ(open->FieldValue(0), CValue::FromInt32(1));
    EXPECT_EQ(connection.QueryScalar("SELECT COUNT(*) FROM Block"), CValue::FromInt32(1500));
  }
  {
    SCOPED_TRACE("a connection dropped inside the second block");
    test::CSqlServer dropping(dir.file("server.db"), {"--drop-after", "1200"});
    auto dropped = ConnectOdbc(dropping.ConnectString(), 300);
    const CExportError error = ErrorOf([&] { ReadAll(*dropped, "SELECT id, v FROM Block"); });
    EXPECT_EQ(error.Code(), codes::kFail);
    EXPECT_EQ(error.Description(), "[01000] Unexpected EOF from the server");
  }
}

// A connection that only answers its dialect, for the SQL Server text.
class CDialectOnly : public CSourceConnection {
 public:
  explicit CDialectOnly(SqlDialect dialect) : m_dialect(dialect) {}
  std::unique_ptr<CSourceRecordset> Execute(const std::string&) override { return nullptr; }
  SqlDialect Dialect() const override { return m_dialect; }

 private:
  SqlDialect m_dialect;
};

TEST(PlatformOdbc, DateBoundsPerDialect) {
  const CCalendarDate date{2014, 3, 7};
  EXPECT_EQ(CDialectOnly(SqlDialect::SqlServer).DateBound(date),
            "CONVERT(DATETIME, '07/03/2014', 103)");
  EXPECT_EQ(CDialectOnly(SqlDialect::Other).DateBound(date),
            "CONVERT(DATETIME, '07/03/2014', 103)");
  CSqliteSourceDb db;
  db.Exec(
      "CREATE TABLE i(id INTEGER, StartInterview DATETIME);"
      "INSERT INTO i VALUES(1, '2014-03-06 23:59:59'), (2, '2014-03-07 00:00:00'),"
      " (3, '2014-03-07 12:00:00'), (4, '2014-03-08 00:00:00');");
  auto connection = ConnectOdbc(db.ConnectString(), 300);
  EXPECT_EQ(connection->DateBound(date), "'2014-03-07 00:00:00'");
  const std::string sql =
      "SELECT COUNT(*) FROM i WHERE StartInterview >= " + connection->DateBound(date) +
      " AND StartInterview < " + connection->DateBound({2014, 3, 8});
  EXPECT_EQ(connection->QueryScalar(sql), CValue::FromInt32(2));
}

TEST(PlatformOdbc, OneOpenStatementPerConnection) {
  CSqliteSourceDb db;
  db.Exec("CREATE TABLE t(id INTEGER); INSERT INTO t VALUES(1), (2), (3);");
  auto connection = ConnectOdbc(db.ConnectString(), 300);
  {
    auto first = connection->Execute("SELECT id FROM t ORDER BY id");
    first->MoveNext();
    first->Close();
    first->Close();
    EXPECT_TRUE(first->IsEOF());
    EXPECT_EQ(first->FieldName(0), "id");
    EXPECT_EQ(ReadAll(*connection, "SELECT id FROM t WHERE id = 3").size(), 1u);
  }
  {
    // The next Execute ends the open one, which then reads as finished.
    auto first = connection->Execute("SELECT id FROM t ORDER BY id");
    auto second = connection->Execute("SELECT id FROM t ORDER BY id DESC");
    EXPECT_TRUE(first->IsEOF());
    EXPECT_EQ(ErrorOf([&] { first->FieldValue(0); }).Code(), codes::Dao(3021));
    EXPECT_EQ(second->FieldValue(0), CValue::FromInt32(3));
    first.reset();  // must not end the newer statement
    second->MoveNext();
    EXPECT_EQ(second->FieldValue(0), CValue::FromInt32(2));
  }
  {
    // As in the export: the main thread executes, the read thread reads and
    // closes, then the main thread runs the next query.
    auto recordset = connection->Execute("SELECT id FROM t ORDER BY id");
    int sum = 0;
    std::thread reader([&] {
      for (; !recordset->IsEOF(); recordset->MoveNext()) sum += recordset->FieldValue(0).Int32();
      recordset->Close();
    });
    reader.join();
    EXPECT_EQ(sum, 6);
    EXPECT_EQ(connection->QueryScalar("SELECT MAX(id) FROM t"), CValue::FromInt32(3));
  }
  {
    // A recordset may outlive its connection object.
    auto recordset = connection->Execute("SELECT id FROM t ORDER BY id");
    connection.reset();
    recordset->MoveNext();
    EXPECT_EQ(recordset->FieldValue(0), CValue::FromInt32(2));
  }
}

// The texts the SQLite driver hands over, typed without the driver.
TEST(PlatformOdbc, SqliteTextsTypedByTheirDeclaredKind) {
  const std::optional<int64_t> none;
  const std::pair<const char*, std::optional<int64_t>> integers[] = {
      {"0", 0},
      {"-5", -5},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", none},
      {"007", none},
      {"", none},
      {"-", none},
      {"+1", none},
      {" 1", none},
      {"1.0", none},
  };
  for (const auto& [text, expected] : integers)
    EXPECT_EQ(ParseSqliteInteger(text), expected) << text;

  const std::optional<double> noReal;
  const std::pair<const char*, std::optional<double>> reals[] = {
      {"0.5", 0.5},   {"-2.25", -2.25}, {"1.0e+300", 1e300}, {"1e5", 1e5}, {"12", noReal},
      {".5", noReal}, {"1.5x", noReal}, {"inf", noReal},     {"", noReal},
  };
  for (const auto& [text, expected] : reals) EXPECT_EQ(ParseSqliteReal(text), expected) << text;

  const std::optional<CDateTime> noDate;
  const std::pair<const char*, std::optional<CDateTime>> dates[] = {
      {"2014-12-31", MakeDateTime(2014, 12, 31, 0, 0, 0)},
      {"2014-12-31 23:59:58", MakeDateTime(2014, 12, 31, 23, 59, 58)},
      {"2014-12-31T08:05", MakeDateTime(2014, 12, 31, 8, 5, 0)},
      {"2016-02-29 08:05:06.5", MakeDateTime(2016, 2, 29, 8, 5, 6, 500000000)},
      {"2016-02-29 08:05:06.123456789", MakeDateTime(2016, 2, 29, 8, 5, 6, 123456789)},
      {"2014-02-29", noDate},
      {"2014-12-31 24:00", noDate},
      {"2014-12-31 08:05:06.", noDate},
      {"2014-12-31 08:05:06.1234567890", noDate},
      {"2014-1-31", noDate},
      {"2014-12-31x", noDate},
      {"2014-12-31 08:5", noDate},
  };
  for (const auto& [text, expected] : dates) EXPECT_EQ(ParseSqliteDateTime(text), expected) << text;

  struct CCase {
    CKind kind;
    const char* text;
    CValue expected;
  };
  const CCase values[] = {
      {CKind::Int16, "12", CValue::FromInt16(12)},
      {CKind::Int16, "70000", CValue::FromInt32(70000)},
      {CKind::Int32, "3000000000", CValue::FromInt64(3000000000)},
      {CKind::Int64, "5", CValue::FromInt64(5)},
      {CKind::Int32, "1.5", CValue::FromDouble(1.5)},
      {CKind::Int32, "007", CValue::FromText("007")},
      {CKind::Double, "3", CValue::FromDouble(3)},
      {CKind::Bool, "2", CValue::FromBool(true)},
      {CKind::Bool, "0", CValue::FromBool(false)},
      {CKind::Text, "12", CValue::FromText("12")},
      {CKind::DateTime, "2014-12-31", CValue::FromDateTime(MakeDateTime(2014, 12, 31, 0, 0, 0))},
      {CKind::DateTime, "soon", CValue::FromText("soon")},
      {CKind::Untyped, "-7", CValue::FromInt32(-7)},
      {CKind::Untyped, "abc", CValue::FromText("abc")},
  };
  for (const CCase& c : values)
    EXPECT_EQ(ValueFromSqliteText(c.kind, c.text), c.expected) << c.text;

  for (const char* untyped : {"varchar", "INTEGER", "datetime", "REAL", ""}) {
    EXPECT_TRUE(IsUntypedSqliteColumn(untyped)) << untyped;
  }
  for (const char* typed : {"VARCHAR(10)", "text", "Clob", "NCHAR"}) {
    EXPECT_FALSE(IsUntypedSqliteColumn(typed)) << typed;
  }
}

}  // namespace
}  // namespace zx
