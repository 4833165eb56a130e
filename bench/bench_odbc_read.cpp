// Rows per second read through the ODBC source layer from a 1,000,000-row
// SQLite table of ten columns (integers, reals, short texts), every field of
// every row taken as a value. bench/odbc_reference.sh times the sqlite3 CLI
// on the same file for comparison.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/odbc/source.hpp"

namespace {

constexpr int kRows = 1000000;

// Made once and kept: $TMPDIR/zuvexport-bench/odbc_read.db.
std::filesystem::path BenchDatabase() {
  const auto dir = std::filesystem::temp_directory_path() / "zuvexport-bench";
  const auto path = dir / "odbc_read.db";
  if (std::filesystem::exists(path)) return path;
  std::filesystem::create_directories(dir);
  const auto partial = dir / "odbc_read.db.partial";
  std::filesystem::remove(partial);
  sqlite3* db = nullptr;
  if (sqlite3_open(partial.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
  const std::string sql =
      "CREATE TABLE t(id INTEGER PRIMARY KEY, a INTEGER, b SMALLINT, c BIGINT, d REAL,"
      " e DOUBLE, f REAL, s1 VARCHAR(20), s2 VARCHAR(40), s3 TEXT);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(kRows) +
      ") INSERT INTO t SELECT i, i * 7, i % 1000, i * 100000, i * 0.5, i / 3.0, i * 1.25,"
      " 'name' || i, 'some text é ' || (i % 97), 'value ' || i FROM n;";
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot create the benchmark table");
  std::filesystem::rename(partial, path);
  return path;
}

void ReadAllFields(benchmark::State& state, bool declaredTypes) {
  const std::string connect = "Driver=SQLite3;Database=" + BenchDatabase().string() + ";StepAPI=1";
  int64_t rows = 0;
  for (auto _ : state) {
    auto connection = zx::ConnectOdbc(connect, zx::COdbcOptions{300, declaredTypes});
    auto recordset = connection->Execute("SELECT * FROM t");
    const int fields = recordset->FieldCount();
    for (; !recordset->IsEOF(); recordset->MoveNext()) {
      for (int i = 0; i < fields; ++i) benchmark::DoNotOptimize(&recordset->FieldValue(i));
      ++rows;
    }
  }
  state.SetItemsProcessed(rows);
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

// As the export reads SQLite: values typed by value, one row per fetch.
void BM_OdbcRead(benchmark::State& state) { ReadAllFields(state, false); }
// Declared types and bound blocks of up to 1000 rows, as SQL Server is read.
void BM_OdbcReadDeclaredTypes(benchmark::State& state) { ReadAllFields(state, true); }

BENCHMARK(BM_OdbcRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_OdbcReadDeclaredTypes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
