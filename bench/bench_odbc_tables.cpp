// Reads every legacy response table of a survey through the ODBC source, the
// way the export's read thread does (each value copied once), without
// writing anything: the floor the legacy export is measured against.
// ZUV_BENCH_CONNECT: connection string; ZUV_BENCH_SURVEY: survey id;
// ZUV_BENCH_TABLES: number of "ORVResponse<id>_<t>" tables.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/odbc/source.hpp"

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

void BM_ReadLegacyTables(benchmark::State& state) {
  const std::string connect = Env("ZUV_BENCH_CONNECT", "");
  const int survey = std::stoi(Env("ZUV_BENCH_SURVEY", "7"));
  const int tables = std::stoi(Env("ZUV_BENCH_TABLES", "4"));
  if (connect.empty()) {
    state.SkipWithError("ZUV_BENCH_CONNECT is not set");
    return;
  }
  int64_t values = 0;
  for (auto _ : state) {
    auto connection = zx::ConnectOdbc(connect, 300);
    for (int t = 1; t <= tables; ++t) {
      auto recordset =
          connection->Execute(fmt::format("SELECT * FROM [ORVResponse{}_{}]", survey, t));
      const int fields = recordset->FieldCount();
      std::vector<zx::CValue> row;
      for (; !recordset->IsEOF(); recordset->MoveNext()) {
        row.clear();
        for (int f = 0; f < fields; ++f) row.push_back(recordset->FieldValue(f));
        values += fields;
        benchmark::DoNotOptimize(row.data());
      }
      recordset->Close();
    }
  }
  state.counters["values"] = static_cast<double>(values);
}
BENCHMARK(BM_ReadLegacyTables)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
