// Values travel from the source database to a ZUV file unconverted: what the
// target file stores must be what the source file stored, type included.
#include <gtest/gtest.h>

#include "platform/odbc/source.hpp"
#include "platform/zuv/engine.hpp"
#include "support/sqlite_file.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

TEST(PlatformSourceToZuv, EveryTypeArrivesAsStored) {
  test::CTempDir dir;
  const std::string source = dir.file("source.db");
  const std::string target = dir.file("target.zuv");
  const char* columns =
      "(id INTEGER, i INTEGER, s SMALLINT, b BIGINT, r REAL, tx TEXT, dt DATETIME, bl BLOB, "
      "bt BIT)";
  test::RunSql(source,
               std::string("CREATE TABLE t") + columns +
                   ";"
                   "INSERT INTO t VALUES(1, -2147483648, -32768, 9007199254740993, -0.125,"
                   " 'Données ''été''', '2014-12-31 23:59:58', x'00ff10', 1);"
                   "INSERT INTO t VALUES(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);"
                   "INSERT INTO t VALUES(3, 7, 12, -1, 1e300, '', '2016-02-29 00:00:00', x'', 0);");
  test::RunSql(target, std::string("CREATE TABLE t") + columns);

  auto connection = ConnectOdbc("Driver=SQLite3;Database=" + source + ";StepAPI=1", 300);
  CZuvEngine engine;
  {
    auto database = engine.OpenDatabase(target, true);
    auto written = database->OpenRecordset("t");
    auto read = connection->Execute("SELECT * FROM t ORDER BY id");
    for (; !read->IsEOF(); read->MoveNext()) {
      written->AddNew();
      for (int k = 0; k < read->FieldCount(); ++k) {
        if (!read->FieldValue(k).IsNull())
          written->SetField(read->FieldName(k), read->FieldValue(k));
      }
      written->Update();
    }
    read->Close();
    written->Close();
    database->Close();
  }
  const std::string dump =
      "SELECT quote(id), quote(i), quote(s), quote(b), quote(r), quote(tx), quote(dt), quote(bl),"
      " quote(bt) FROM t ORDER BY id";
  EXPECT_EQ(test::QueryRows(target, dump), test::QueryRows(source, dump));
  EXPECT_EQ(
      test::QueryText(target, "SELECT typeof(dt) || typeof(b) || typeof(bl) FROM t WHERE id = 1"),
      "textintegerblob");
}

}  // namespace
}  // namespace zx
