#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/error.hpp"
#include "platform/sql_identifier.hpp"
#include "platform/zuv/engine.hpp"
#include "platform/zuv/sql_scan.hpp"
#include "support/temp_dir.hpp"

namespace zx {
namespace {

using test::CTempDir;

// Writes a SQLite file with `sql` through SQLite itself, not the engine.
void MakeDatabase(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error != nullptr ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

int64_t CountRows(const std::string& path, const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, ("SELECT count(*) FROM \"" + table + "\"").c_str(), -1, &stmt, nullptr);
  int64_t count = -1;
  if (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) count = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return count;
}

template <typename F>
uint32_t ErrorCodeOf(F&& f) {
  try {
    f();
  } catch (const CExportError& e) {
    EXPECT_EQ(e.Source(), "ZUV engine");
    return e.Code();
  }
  return 0;
}

constexpr char kResponseTable[] =
    "CREATE TABLE [ORV Reponse1] (Cle1 INTEGER NOT NULL, I16 INTEGER, I32 INTEGER, "
    "I64 INTEGER, D REAL, B INTEGER, T TEXT, DT TEXT, BIN BLOB, N INTEGER, "
    "Def INTEGER DEFAULT 7, [12;1] INTEGER);";

TEST(ZuvEngine, OpenAndCompactRejectBadFilesWithoutCreatingAny) {
  CTempDir dir;
  CZuvEngine engine;
  {
    const std::string missing = dir.file("missing.zuv");
    try {
      engine.OpenDatabase(missing, true);
      FAIL() << "opened a missing file";
    } catch (const CExportError& e) {
      EXPECT_EQ(e.Code(), codes::kFileNotFound);
      EXPECT_EQ(e.Description(), "Could not find file '" + missing + "'.");
    }
    EXPECT_EQ(ErrorCodeOf([&] { engine.OpenDatabase(dir.file("no/such/dir/x.zuv")); }),
              codes::kFileNotFound);
    EXPECT_EQ(ErrorCodeOf([&] { engine.OpenDatabase(""); }), codes::kFileNotFound);
    EXPECT_EQ(ErrorCodeOf([&] { engine.CompactDatabase(missing, dir.file("out.zuv")); }),
              codes::kFileNotFound);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  }
  {
    const std::string text = dir.file("notes.zuv");
    std::ofstream(text) << "This is not a database, but long enough to have a header..........";
    const auto before = std::filesystem::file_size(text);
    EXPECT_EQ(ErrorCodeOf([&] { engine.OpenDatabase(text); }), codes::kNotADatabase);
    EXPECT_EQ(ErrorCodeOf([&] { engine.CompactDatabase(text, dir.file("out.zuv")); }),
              codes::kNotADatabase);
    EXPECT_EQ(std::filesystem::file_size(text), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.zuv")));
    EXPECT_EQ(ErrorCodeOf([&] { engine.OpenDatabase(dir.path()); }), codes::kNotADatabase);
  }
  {
    // A "file:" name must stay a plain relative path, never a URI.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const uint32_t code = ErrorCodeOf([&] { engine.OpenDatabase("file:x.zuv?mode=rwc"); });
    std::filesystem::current_path(cwd);
    EXPECT_EQ(code, codes::kFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.zuv")));
  }
}

TEST(ZuvEngine, ValuesRoundTripThroughAddNewAndGetField) {
  CTempDir dir;
  const std::string path = dir.file("t.zuv");
  MakeDatabase(path, kResponseTable);
  CZuvEngine engine;
  const CDateTime when{2014, 12, 31, 23, 59, 58, 0};
  {
    auto db = engine.OpenDatabase(path, true);
    auto rs = db->OpenRecordset("ORV Reponse1");
    EXPECT_EQ(rs->FieldCount(), 12);
    rs->AddNew();
    rs->SetField("Cle1", CValue::FromInt32(1));
    rs->SetField("I16", CValue::FromInt16(-12));
    rs->SetField("I32", CValue::FromInt32(INT32_MIN));
    rs->SetField("I64", CValue::FromInt64(int64_t{1} << 40));
    rs->SetField("D", CValue::FromDouble(2.5));
    rs->SetField("B", CValue::FromBool(true));
    rs->SetField("T", CValue::FromText("l'été \"x\""));
    rs->SetField("DT", CValue::FromDateTime(when));
    rs->SetField("BIN", CValue::FromBinary({0, 1, 255}));
    rs->SetField("N", CValue());
    rs->SetField("12;1", CValue::FromInt32(3));
    rs->Update();
    // Another set of fields must not reuse the statement of the first.
    rs->AddNew();
    rs->SetField(0, CValue::FromInt32(2));
    rs->SetField(10, CValue::FromInt32(3));
    rs->SetField("BIN", CValue::FromBinary({}));
    rs->Update();
    rs->AddNew();
    rs->SetField("cle1", CValue::FromInt32(3));  // field names ignore case as a fallback
    rs->SetField("B", CValue::FromBool(false));
    rs->Update();
    db->Close();
  }
  auto db = engine.OpenDatabase(path);
  auto rs = db->OpenRecordset("SELECT * FROM [ORV Reponse1] ORDER BY Cle1");
  ASSERT_EQ(rs->RecordCount(), 3);
  EXPECT_EQ(rs->GetField("Cle1"), CValue::FromInt32(1));
  EXPECT_EQ(rs->GetField("I16"), CValue::FromInt32(-12));
  EXPECT_EQ(rs->GetField("I32"), CValue::FromInt32(INT32_MIN));
  EXPECT_EQ(rs->GetField("I64"), CValue::FromInt64(int64_t{1} << 40));
  EXPECT_EQ(rs->GetField("D"), CValue::FromDouble(2.5));
  EXPECT_EQ(rs->GetField("B"), CValue::FromInt32(1));
  EXPECT_EQ(rs->GetField("T"), CValue::FromText("l'été \"x\""));
  EXPECT_EQ(rs->GetField("DT"), CValue::FromText("2014-12-31 23:59:58"));
  EXPECT_EQ(rs->GetField("BIN"), CValue::FromBinary({0, 1, 255}));
  EXPECT_TRUE(rs->GetField("N").IsNull());
  EXPECT_EQ(rs->GetField("Def"), CValue::FromInt32(7));
  EXPECT_EQ(rs->GetField("12;1"), CValue::FromInt32(3));
  rs->MoveNext();
  EXPECT_EQ(rs->GetField(0), CValue::FromInt32(2));
  EXPECT_TRUE(rs->GetField("I32").IsNull());
  EXPECT_TRUE(rs->GetField("D").IsNull());
  EXPECT_EQ(rs->GetField("Def"), CValue::FromInt32(3));
  EXPECT_EQ(rs->GetField("BIN"), CValue::FromBinary({}));
  rs->MoveNext();
  EXPECT_EQ(rs->GetField("B"), CValue::FromInt32(0));
  EXPECT_EQ(rs->GetField("Def"), CValue::FromInt32(7));
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_EQ(ErrorCodeOf([&] { rs->GetField(0); }), codes::kEngineError);
}

TEST(ZuvEngine, ErrorsCarryTheNumbersTheWritersTolerate) {
  CTempDir dir;
  const std::string path = dir.file("t.zuv");
  MakeDatabase(path, kResponseTable);
  CZuvEngine engine;
  auto db = engine.OpenDatabase(path, true);
  auto rs = db->OpenRecordset("[ORV Reponse1]");
  {  // unknown fields
    rs->AddNew();
    EXPECT_EQ(ErrorCodeOf([&] { rs->SetField("99;1", CValue::FromInt32(1)); }),
              codes::kMissingField);
    EXPECT_EQ(ErrorCodeOf([&] { rs->SetField(12, CValue::FromInt32(1)); }), codes::kMissingField);
    EXPECT_EQ(ErrorCodeOf([&] { rs->SetField(-1, CValue::FromInt32(1)); }), codes::kMissingField);
    EXPECT_EQ(ErrorCodeOf([&] { rs->FieldIndex("Cle9"); }), codes::kMissingField);
    EXPECT_EQ(rs->FieldIndex("12;1"), 11);
  }
  {  // NOT NULL: the record stays pending until completed or discarded
    rs->AddNew();
    rs->SetField("I32", CValue::FromInt32(5));
    EXPECT_EQ(ErrorCodeOf([&] { rs->Update(); }), codes::kRequiredFieldEmpty);
    EXPECT_EQ(ErrorCodeOf([&] { rs->Update(); }), codes::kRequiredFieldEmpty);
    rs->SetField("Cle1", CValue::FromInt32(10));
    rs->Update();
    rs->AddNew();
    rs->SetField("I32", CValue::FromInt32(6));
    EXPECT_EQ(ErrorCodeOf([&] { rs->Update(); }), codes::kRequiredFieldEmpty);
    rs->AddNew();
    rs->SetField("Cle1", CValue::FromInt32(11));
    rs->Update();
    EXPECT_EQ(ErrorCodeOf([&] { rs->Update(); }), codes::kEngineError);  // nothing pending
  }
  {  // statements
    EXPECT_EQ(ErrorCodeOf([&] {
                db->Execute("UPDATE [ORV Reponse1] SET  [9;9] = IIF([9;9] IS NULL, -2, [9;9])");
              }),
              codes::kTooFewParameters);
    db->Execute("UPDATE [ORV Reponse1] SET  [12;1] = IIF([12;1] IS NULL, -2, [12;1])");
    EXPECT_EQ(ErrorCodeOf([&] { db->Execute("DELETE FROM [ORV Reponse9]"); }),
              codes::kTableNotFound);
    EXPECT_EQ(ErrorCodeOf([&] { db->OpenRecordset("ORV Reponse9"); }), codes::kTableNotFound);
    EXPECT_EQ(ErrorCodeOf([&] { db->Execute("UPDATE SET"); }), codes::kSyntaxError);
    EXPECT_EQ(
        ErrorCodeOf([&] {
          db->Execute("INSERT INTO [ORV Reponse1] (Cle1) VALUES (99); DROP TABLE [ORV Reponse1]");
        }),
        codes::kSyntaxError);
    EXPECT_TRUE(db->TableExists("orv reponse1"));
    auto check = db->OpenRecordset("SELECT Cle1, [12;1] FROM [ORV Reponse1] ORDER BY Cle1");
    ASSERT_EQ(check->RecordCount(), 2);  // rows written in this transaction are visible
    EXPECT_EQ(check->GetField(1), CValue::FromInt32(-2));
    EXPECT_EQ(check->FieldName(1), "12;1");
  }
  db->Close();
  EXPECT_EQ(CountRows(path, "ORV Reponse1"), 2);
  EXPECT_EQ(ErrorCodeOf([&] { rs->AddNew(); }), codes::kEngineError);  // closed with the database
}

TEST(ZuvEngine, DynasetOnSelectEditsTheCurrentRow) {
  CTempDir dir;
  const std::string path = dir.file("t.zuv");
  MakeDatabase(
      path,
      "CREATE TABLE [ORV SemiOpen] (CodeReponseSO INTEGER PRIMARY KEY, CodeQuestion "
      "INTEGER NOT NULL, LibelleSO TEXT, CodeRegroupement INTEGER, Ordre INTEGER, "
      "NbCitations INTEGER, DateCreation TEXT, Auteur TEXT);"
      "INSERT INTO [ORV SemiOpen] VALUES (6, 60, 'six', 1, 2, 3, '2020-01-01', 'me');"
      "CREATE TABLE Questionnaire (CodeQuestion INTEGER PRIMARY KEY, "
      "NbMaxReponse INTEGER NOT NULL DEFAULT 1, AdditionalTables TEXT NOT NULL DEFAULT '');"
      "INSERT INTO Questionnaire VALUES (1, 3, ''), (2, 5, '2:1,5'), (3, 2, '1:1,1;3:2,2');");
  CZuvEngine engine;
  auto db = engine.OpenDatabase(path, true);
  {
    auto rs = db->OpenRecordset(
        "SELECT CodeQuestion, AdditionalTables, NbMaxReponse FROM [Questionnaire] "
        "WHERE AdditionalTables <> ''");
    ASSERT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->FieldCount(), 3);
    EXPECT_EQ(rs->GetField("CodeQuestion"), CValue::FromInt32(2));
    EXPECT_EQ(rs->GetField(1), CValue::FromText("2:1,5"));
    rs->MoveNext();
    EXPECT_EQ(rs->GetField("NbMaxReponse"), CValue::FromInt32(2));
    rs->MoveNext();
    EXPECT_TRUE(rs->IsEOF());
  }
  auto copyAnswer = [&](int code, int question, const std::string& caption) {
    const std::string select =
        "SELECT * FROM [ORV SemiOpen] WHERE CodeReponseSO=" + std::to_string(code);
    auto rs = db->OpenRecordset(select);
    if (rs->RecordCount() == 0) {
      db->Execute("INSERT INTO [ORV SemiOpen] (CodeReponseSO,CodeQuestion,LibelleSO) VALUES (" +
                  std::to_string(code) + "," + std::to_string(question) + ",'newcaption')");
      rs->Requery();
    }
    ASSERT_EQ(rs->RecordCount(), 1);
    rs->Edit();
    rs->SetField(1, CValue::FromInt32(question));
    rs->SetField(2, CValue::FromText(caption));
    for (int i = 3; i <= 5; ++i) rs->SetField(i, CValue::FromInt16(static_cast<int16_t>(i)));
    rs->SetField(6, CValue());
    rs->SetField(7, CValue::FromText("auteur"));
    rs->Update();
    EXPECT_EQ(rs->GetField("LibelleSO"), CValue::FromText(caption));
    rs->Close();
  };
  copyAnswer(5, 50, "cinq");
  copyAnswer(6, 61, "six bis");
  copyAnswer(5, 50, "cinq bis");
  db->Close();

  db = engine.OpenDatabase(path);
  auto rs = db->OpenRecordset("SELECT * FROM [ORV SemiOpen] ORDER BY CodeReponseSO");
  ASSERT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(rs->GetField("LibelleSO"), CValue::FromText("cinq bis"));
  EXPECT_TRUE(rs->GetField("DateCreation").IsNull());
  rs->MoveNext();
  EXPECT_EQ(rs->GetField("CodeQuestion"), CValue::FromInt32(61));
  EXPECT_EQ(rs->GetField("Ordre"), CValue::FromInt32(4));
  // A computed field has no column to write back to.
  auto computed = db->OpenRecordset("SELECT CodeReponseSO * 2 AS Twice FROM [ORV SemiOpen]");
  computed->Edit();
  EXPECT_EQ(ErrorCodeOf([&] { computed->SetField("Twice", CValue::FromInt32(1)); }),
            codes::kEngineError);
  computed->Close();

  // A column named _rowid_ hides the rowid under that name: the edit and the
  // re-read go to the row the dynaset read, by the name it chose.
  db->Execute("CREATE TABLE Hidden (_rowid_ INTEGER, Name TEXT)");
  db->Execute("INSERT INTO Hidden (rowid, _rowid_, Name) VALUES (1, 2, 'first'), (2, 1, 'second')");
  auto hidden = db->OpenRecordset("SELECT Name FROM Hidden WHERE Name = 'first'");
  ASSERT_EQ(hidden->RecordCount(), 1);
  hidden->Edit();
  hidden->SetField("Name", CValue::FromText("edited"));
  hidden->Update();
  EXPECT_EQ(hidden->GetField("Name"), CValue::FromText("edited"));
  hidden->Close();
  auto check = db->OpenRecordset("SELECT Name FROM Hidden ORDER BY rowid");
  ASSERT_EQ(check->RecordCount(), 2);
  EXPECT_EQ(check->GetField("Name"), CValue::FromText("edited"));
  check->MoveNext();
  EXPECT_EQ(check->GetField("Name"), CValue::FromText("second"));
}

TEST(ZuvEngine, FailuresKeepTheRowsWrittenBefore) {
  CTempDir dir;
  const std::string path = dir.file("t.zuv");
  MakeDatabase(path, kResponseTable);
  CZuvEngine engine;
  constexpr int kRows = 25000;  // more than one transaction
  {
    int updates = 0;
    SetZuvFaultHook([&](std::string_view operation, std::string_view table) -> uint32_t {
      if (table != "ORV Reponse1") return 0;
      if (operation == "Update" && ++updates == kRows + 1) return codes::kResourcesExceeded;
      return 0;
    });
    auto db = engine.OpenDatabase(path, true);
    auto rs = db->OpenRecordset("ORV Reponse1");
    for (int i = 1; i <= kRows + 1; ++i) {
      rs->AddNew();
      rs->SetField("Cle1", CValue::FromInt32(i));
      if (i <= kRows) {
        rs->Update();
      } else {
        try {
          rs->Update();
          ADD_FAILURE() << "the injected failure did not happen";
        } catch (const CExportError& e) {
          EXPECT_TRUE(e.IsResourcesExceeded());
          EXPECT_EQ(e.Description(), "Injected failure");
        }
      }
    }
    SetZuvFaultHook({});
    rs->Close();
    db->Close();
    EXPECT_EQ(CountRows(path, "ORV Reponse1"), kRows);
  }
  {
    SetZuvFaultHook([](std::string_view operation, std::string_view) -> uint32_t {
      return operation == "SetField" ? codes::kMissingField : 0;
    });
    auto db = engine.OpenDatabase(path, true);
    auto rs = db->OpenRecordset("ORV Reponse1");
    rs->AddNew();
    EXPECT_EQ(ErrorCodeOf([&] { rs->SetField("Cle1", CValue::FromInt32(1)); }),
              codes::kMissingField);
    SetZuvFaultHook({});
  }
  {
    // A real full disk makes SQLite roll the open transaction back: that is
    // a plain failure naming the loss, never a 3035 to resume after.
    auto db = engine.OpenDatabase(path, true);
    db->Execute("PRAGMA max_page_count = " +
                std::to_string(CountRows(path, "ORV Reponse1") / 50 + 40));
    auto rs = db->OpenRecordset("ORV Reponse1");
    std::string failure;
    for (int i = 0; i < 100000 && failure.empty(); ++i) {
      rs->AddNew();
      rs->SetField("Cle1", CValue::FromInt32(i));
      rs->SetField("T", CValue::FromText(std::string(500, 'x')));
      try {
        rs->Update();
      } catch (const CExportError& e) {
        EXPECT_EQ(e.Code(), codes::kEngineError);
        failure = e.Description();
      }
    }
    EXPECT_NE(failure.find("rolled back"), std::string::npos) << failure;
    // The loss sticks: later writes and the Close fail too, even with room again.
    db->Execute("PRAGMA max_page_count = 1000000");
    rs->AddNew();
    rs->SetField("Cle1", CValue::FromInt32(-1));
    EXPECT_EQ(ErrorCodeOf([&] { rs->Update(); }), codes::kEngineError);
    EXPECT_EQ(ErrorCodeOf([&] { engine.Idle(); }), codes::kEngineError);
    EXPECT_EQ(ErrorCodeOf([&] { db->Close(); }), codes::kEngineError);
    EXPECT_EQ(CountRows(path, "ORV Reponse1"), kRows);
    db = engine.OpenDatabase(path, true);
    db->Execute("DELETE FROM [ORV Reponse1] WHERE Cle1 > 20000");
    db->Close();
    EXPECT_EQ(CountRows(path, "ORV Reponse1"), 20000);
  }
}

TEST(ZuvEngine, IdleCommitsAndExclusiveOpenLocksOthersOut) {
  CTempDir dir;
  const std::string path = dir.file("t.zuv");
  MakeDatabase(path, kResponseTable);
  CZuvEngine engine;
  engine.SetOption(62, 15000);
  engine.SetOption(8, 20000);
  EXPECT_EQ(engine.Version().rfind("SQLite 3.", 0), 0u);
  {
    auto db = engine.OpenDatabase(path);
    auto rs = db->OpenRecordset("ORV Reponse1");
    rs->AddNew();
    rs->SetField("Cle1", CValue::FromInt32(1));
    rs->Update();
    EXPECT_EQ(CountRows(path, "ORV Reponse1"), 0);  // the writer's transaction is open
    engine.Idle();
    EXPECT_EQ(CountRows(path, "ORV Reponse1"), 1);
  }
  {
    auto db = engine.OpenDatabase(path, true);
    EXPECT_EQ(CountRows(path, "ORV Reponse1"), -1);
    EXPECT_EQ(ErrorCodeOf([&] { engine.OpenDatabase(path, true); }), codes::kEngineError);
    db->Close();
    EXPECT_EQ(CountRows(path, "ORV Reponse1"), 1);
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));  // one file again
  }
}

TEST(ZuvEngine, FaultHookCanChangeWhileAnotherThreadWrites) {
  CTempDir dir;
  const std::string path = dir.file("t.zuv");
  MakeDatabase(path, kResponseTable);
  CZuvEngine engine;
  auto db = engine.OpenDatabase(path, true);
  auto rs = db->OpenRecordset("ORV Reponse1");
  std::atomic<bool> done{false};
  std::thread toggler([&] {
    while (!done.load()) {
      SetZuvFaultHook([](std::string_view, std::string_view) -> uint32_t { return 0; });
      SetZuvFaultHook({});
    }
  });
  for (int i = 0; i < 2000; ++i) {
    rs->AddNew();
    rs->SetField("Cle1", CValue::FromInt32(i));
    rs->Update();
  }
  done = true;
  toggler.join();
  SetZuvFaultHook({});
  db->Close();
  EXPECT_EQ(CountRows(path, "ORV Reponse1"), 2000);
}

TEST(ZuvEngine, CompactionWritesASmallerCopyWithTheSameRows) {
  CTempDir dir;
  const std::string path = dir.file("t.zuv");
  MakeDatabase(path, kResponseTable);
  CZuvEngine engine;
  {
    auto db = engine.OpenDatabase(path, true);
    auto rs = db->OpenRecordset("ORV Reponse1");
    for (int i = 0; i < 5000; ++i) {
      rs->AddNew();
      rs->SetField("Cle1", CValue::FromInt32(i));
      rs->SetField("T", CValue::FromText(std::string(200, 'a' + i % 26)));
      rs->Update();
    }
    rs->Close();
    db->Execute("DELETE FROM [ORV Reponse1] WHERE Cle1 >= 100");
    db->Close();
  }
  const std::string compacted = dir.file("t.zuv.tmp");
  engine.CompactDatabase(path, compacted);
  EXPECT_LT(std::filesystem::file_size(compacted), std::filesystem::file_size(path) / 4);
  EXPECT_EQ(CountRows(compacted, "ORV Reponse1"), 100);
  {
    auto db = engine.OpenDatabase(compacted);
    auto rs = db->OpenRecordset("SELECT T FROM [ORV Reponse1] WHERE Cle1 = 27");
    EXPECT_EQ(rs->GetField(0), CValue::FromText(std::string(200, 'b')));
  }
  const auto size = std::filesystem::file_size(compacted);
  EXPECT_EQ(ErrorCodeOf([&] { engine.CompactDatabase(path, compacted); }), codes::kEngineError);
  EXPECT_EQ(std::filesystem::file_size(compacted), size);
}

// The scan decides which dynasets can be written and where the rowid goes.
TEST(ZuvEngine, SqlScanFindsTheOneTableOfASelect) {
  struct CCase {
    const char* sql;
    const char* table;
    size_t afterSelect;
    bool distinct;
  };
  const CCase cases[] = {
      {"SELECT * FROM [ORV Reponse1] WHERE Cle1 > 3", "ORV Reponse1", 6, false},
      {"  select DISTINCT a FROM t", "t", 8, true},
      {"SELECT ALL a FROM t;", "t", 6, true},
      {"SELECT \"a\"\"b\" FROM \"x\"\"y\" ORDER BY 1", "x\"y", 6, false},
      {"SELECT `f`, 'from', [from], (SELECT max(k) FROM u) AS m FROM `q`", "q", 6, false},
      {"SELECT Cle1 FROM [ORV Reponse2]", "ORV Reponse2", 6, false},
      {"SELECT * FROM a, b", "", 6, false},
      {"SELECT * FROM a JOIN b ON a.k = b.k", "", 6, false},
      {"SELECT * FROM a left join b ON a.k = b.k", "", 6, false},
      {"SELECT 1", "", 6, false},
      {"SELECT * FROM (SELECT * FROM t)", "", 6, false},
      {"UPDATE t SET x = 1", "", 0, false},
  };
  for (const CCase& c : cases) {
    const CSelectShape shape = ScanSelect(c.sql);
    EXPECT_EQ(shape.table, c.table) << c.sql;
    EXPECT_EQ(shape.afterSelect, c.afterSelect) << c.sql;
    EXPECT_EQ(shape.distinct, c.distinct) << c.sql;
  }
  EXPECT_EQ(FirstKeyword("  (select 1"), "SELECT");
  EXPECT_EQ(FirstKeyword("insert into t"), "INSERT");
  EXPECT_EQ(FirstKeyword(" 1 "), "");
  EXPECT_EQ(StripBrackets(" [ORV Reponse1] "), "ORV Reponse1");
  EXPECT_EQ(StripBrackets("[t"), "[t");
  EXPECT_EQ(QuoteIdentifier("a\"b]"), "\"a\"\"b]\"");
  EXPECT_EQ(QuoteIdentifier(""), "\"\"");
}

}  // namespace
}  // namespace zx
