// The hand-over between the read thread and the writer when one side fails:
// a source that fails on request (over the real ODBC source) and the engine's
// fault hook. Every case must end with result 1, never hang.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "export/exporter.hpp"
#include "platform/error.hpp"
#include "platform/zuv/engine.hpp"
#include "support/legacy_check.hpp"
#include "support/process.hpp"
#include "support/recording_reporter.hpp"
#include "support/temp_dir.hpp"

namespace zx::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Fails MoveNext on the row queries of one table after `rows` rows.
class CFailingRecordset : public CSourceRecordset {
 public:
  CFailingRecordset(std::unique_ptr<CSourceRecordset> real, int rows, bool foreign)
      : m_real(std::move(real)), m_rowsLeft(rows), m_foreign(foreign) {}
  bool IsEOF() const override { return m_real->IsEOF(); }
  void MoveNext() override {
    if (--m_rowsLeft <= 0) {
      if (m_foreign) throw std::runtime_error("connection reset");
      throw CExportError(codes::kFail, "Microsoft OLE DB Provider for SQL Server",
                         "Communication link failure");
    }
    m_real->MoveNext();
  }
  int FieldCount() const override { return m_real->FieldCount(); }
  const std::string& FieldName(int index) const override { return m_real->FieldName(index); }
  const CValue& FieldValue(int index) const override { return m_real->FieldValue(index); }
  int FieldIndex(std::string_view name) const override { return m_real->FieldIndex(name); }
  void Close() override { m_real->Close(); }

 private:
  std::unique_ptr<CSourceRecordset> m_real;
  int m_rowsLeft;
  bool m_foreign;
};

class CFailingSource : public CSourceConnection {
 public:
  CFailingSource(std::unique_ptr<CSourceConnection> real, std::string table, int rows, bool foreign)
      : m_real(std::move(real)), m_table(std::move(table)), m_rows(rows), m_foreign(foreign) {}
  std::unique_ptr<CSourceRecordset> Execute(const std::string& sql) override {
    auto result = m_real->Execute(sql);
    if (sql.rfind("SELECT * FROM [" + m_table + "]", 0) != 0) return result;
    return std::make_unique<CFailingRecordset>(std::move(result), m_rows, m_foreign);
  }
  SqlDialect Dialect() const override { return m_real->Dialect(); }

 private:
  std::unique_ptr<CSourceConnection> m_real;
  std::string m_table;
  int m_rows;
  bool m_foreign;
};

struct CRun {
  int result = -1;
  std::vector<std::string> infos, errors;
};

CRun Export(const CTempDir& dir, const std::string& target, SourceConnector connector,
            std::string connectString = {}) {
  if (connectString.empty()) connectString = SqliteOdbcConnect(dir.file("source.db"));
  CExporter exporter(dir.file("survey.zuv"), "LEGACY", connectString, "7", target, "CONSOLE", "",
                     "", "", "");
  auto reporter = std::make_unique<CRecordingReporter>();
  CRecordingReporter& recorded = *reporter;
  exporter.SetReporter(std::move(reporter));
  if (connector) exporter.SetSourceConnector(std::move(connector));
  CRun run;
  run.result = exporter.ExportFromSqlLegacy();
  run.infos = recorded.Infos();
  run.errors = recorded.Errors();
  return run;
}

SourceConnector Failing(std::string table, int rows, bool foreign = false) {
  return [=](const std::string& connect) -> std::unique_ptr<CSourceConnection> {
    return std::make_unique<CFailingSource>(ConnectOdbc(connect, 300), table, rows, foreign);
  };
}

struct CFaultHook {
  explicit CFaultHook(ZuvFaultHook hook) { SetZuvFaultHook(std::move(hook)); }
  ~CFaultHook() { SetZuvFaultHook(nullptr); }
};

TEST(ExportPipeline, ReaderFailureEndsTheExportWithItsReport) {
  CTempDir dir;
  MakeLegacySample(dir.path(),
                   {"--interviews", "2500", "--tables", "2", "--loops", "0", "--questions", "6"});
  {
    SCOPED_TRACE("source error in the middle of the second table");
    CRun run = Export(dir, dir.file("a.zuv"), Failing("ORVResponse7_2", 1500));
    EXPECT_EQ(run.result, 1);
    EXPECT_THAT(run.errors, ElementsAre("Error at CExporter::ReadTableFromSqlLegacy\n"
                                        "Microsoft OLE DB Provider for SQL Server : "
                                        "Communication link failure"));
    EXPECT_THAT(run.infos, ::testing::Contains("[Read Thread] Done reading Table number 1"));
    EXPECT_THAT(run.infos, ::testing::Not(::testing::Contains("Recompacting Zuv File...")));
    EXPECT_FALSE(fs::exists(dir.file("a.zuv")));
  }
  {
    SCOPED_TRACE("any other exception on the first row");
    CRun run = Export(dir, dir.file("b.zuv"), Failing("ORVResponse7_1", 1, true));
    EXPECT_EQ(run.result, 1);
    EXPECT_THAT(run.errors, ElementsAre("CExporter::ReadTableFromSqlLegacy"));
    EXPECT_THAT(run.infos,
                ::testing::Not(::testing::Contains("[Write Thread] Table number 1 Written")));
  }
  {
    SCOPED_TRACE("the source cannot be reached at all");
    CRun run = Export(dir, dir.file("c.zuv"),
                      [](const std::string&) -> std::unique_ptr<CSourceConnection> {
                        throw CExportError(codes::kFail, "ODBC", "[08001] no server");
                      });
    EXPECT_EQ(run.result, 1);
    EXPECT_THAT(run.errors,
                ElementsAre("Error at CExporter::ExportFromSqlLegacy\nODBC : [08001] no server"));
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_THAT(left, ::testing::UnorderedElementsAre("source.db", "survey.zuv"));
  {
    SCOPED_TRACE("the table check reads through the exporter's one connection");
    int connections = 0;
    CRun run = Export(
        dir, dir.file("d.zuv"),
        [&](const std::string&) -> std::unique_ptr<CSourceConnection> {
          ++connections;
          return ConnectOdbc(SqliteOdbcConnect(dir.file("source.db")), 300);
        },
        SqliteOdbcConnect(dir.file("elsewhere.db")));
    EXPECT_EQ(run.result, 0) << ::testing::PrintToString(run.errors);
    EXPECT_EQ(connections, 1);
  }
  {
    SCOPED_TRACE("a source that cannot be connected fails the table check");
    CRun run = Export(dir, dir.file("e.zuv"), nullptr, "Driver=NoSuchDriver;Database=/nowhere");
    EXPECT_EQ(run.result, 1);
    EXPECT_FALSE(run.errors.empty());
    EXPECT_THAT(run.infos, ::testing::Not(::testing::Contains("Creating Target Zuv Structure...")));
  }
}

TEST(ExportPipeline, WriterFailureWakesAReaderWaitingForFreeBatches) {
  // More rows than the batches in flight hold, so the reader is blocked on a
  // free batch when the writer gives up.
  CTempDir dir;
  MakeLegacySample(dir.path(), {"--interviews", "12000", "--tables", "1", "--loops", "0",
                                "--questions", "3", "--split-share", "0"});
  std::atomic<int> updates = 0;
  CFaultHook hook([&](std::string_view operation, std::string_view table) -> uint32_t {
    return operation == "Update" && table == "ORV Reponse1" && ++updates == 1 ? codes::kEngineError
                                                                              : 0;
  });
  CRun run = Export(dir, dir.file("t.zuv"), nullptr);
  EXPECT_EQ(run.result, 1);
  ASSERT_EQ(run.errors.size(), 2u) << ::testing::PrintToString(run.errors);
  EXPECT_EQ(run.errors[0], "Error while trying to write data in the target Zuv file.");
  EXPECT_THAT(run.errors[1], HasSubstr("Error at CExporter::ExportFromSqlLegacy\n"));
  EXPECT_THAT(run.infos,
              ::testing::Not(::testing::Contains("[Read Thread] Done reading Table number 1")));
}

}  // namespace
}  // namespace zx::test
