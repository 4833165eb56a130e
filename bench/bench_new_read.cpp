// The source read alone, for comparison with a whole new-layout export: every
// data row of the survey through the ODBC layer, each value copied out as the
// read thread does. ZUV_BENCH_DB names the source database (SQLite),
// ZUV_BENCH_SURVEY the survey id.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstdlib>
#include <string>

#include "platform/odbc/source.hpp"

namespace {

void BM_ReadNewLayoutRows(benchmark::State& state) {
  const char* db = std::getenv("ZUV_BENCH_DB");
  const char* survey = std::getenv("ZUV_BENCH_SURVEY");
  if (db == nullptr) {
    state.SkipWithError("ZUV_BENCH_DB is not set");
    return;
  }
  const int id = survey != nullptr ? std::atoi(survey) : 7;
  auto source = zx::ConnectOdbc(fmt::format("Driver=SQLite3;Database={};StepAPI=1", db), 300);
  // The first response table's rows carry the interview columns too; the
  // others only the data columns.
  const std::string sql = fmt::format(
      "SELECT [Orvix{0:04}Data].* FROM [Orvix{0:04}Data] JOIN [Orvix{0:04}Interview] ON "
      "[Orvix{0:04}Data].InterviewID = [Orvix{0:04}Interview].InterviewID",
      id);
  int64_t rows = 0;
  for (auto _ : state) {
    auto recordset = source->Execute(sql);
    const int fields = recordset->FieldCount();
    for (; !recordset->IsEOF(); recordset->MoveNext()) {
      for (int f = 0; f < fields; ++f) {
        zx::CValue value = recordset->FieldValue(f);
        benchmark::DoNotOptimize(value);
      }
      ++rows;
    }
    recordset->Close();
  }
  state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadNewLayoutRows)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
