// Rows per second written into a 100-field response table the way the
// writers do it: AddNew, SetField by name for every field, Update.
// Compare with bench/zuv_reference.sh (the sqlite3 CLI, same rows).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/zuv/engine.hpp"

namespace {

constexpr int kValueFields = 99;
constexpr int kRowsPerIteration = 50000;

// Field f (1..99) is "1000+f;1": INTEGER when f % 3 == 0, REAL when 1, TEXT when 2.
std::vector<std::string> FieldNames() {
  std::vector<std::string> names{"Cle1"};
  for (int f = 1; f <= kValueFields; ++f) names.push_back(std::to_string(1000 + f) + ";1");
  return names;
}

void CreateTable(const std::string& path, const std::vector<std::string>& names) {
  std::string sql = "CREATE TABLE [ORV Reponse1] (Cle1 INTEGER NOT NULL";
  for (int f = 1; f <= kValueFields; ++f) {
    sql += ", [" + names[f] + "] " + (f % 3 == 0 ? "INTEGER" : f % 3 == 1 ? "REAL" : "TEXT");
  }
  sql += "); CREATE UNIQUE INDEX [ORV Reponse1 Keys] ON [ORV Reponse1] (Cle1);";
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void BM_ZuvWriteRows(benchmark::State& state) {
  const std::vector<std::string> names = FieldNames();
  char folder[] = "/tmp/zuvbench.XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string path = std::string(folder) + "/bench.zuv";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(path);
    CreateTable(path, names);
    zx::CZuvEngine engine;
    engine.SetOption(8, 20000);
    state.ResumeTiming();

    auto db = engine.OpenDatabase(path, true);
    auto rs = db->OpenRecordset("ORV Reponse1");
    for (int row = 1; row <= kRowsPerIteration; ++row) {
      rs->AddNew();
      rs->SetField(names[0], zx::CValue::FromInt32(row));
      for (int f = 1; f <= kValueFields; ++f) {
        switch (f % 3) {
          case 0:
            rs->SetField(names[f], zx::CValue::FromInt32(row * 7 + f));
            break;
          case 1:
            rs->SetField(names[f], zx::CValue::FromDouble(row + f * 0.5));
            break;
          default:
            rs->SetField(names[f], zx::CValue::FromText("answer " + std::to_string(row % 97)));
        }
      }
      rs->Update();
    }
    rs->Close();
    db->Close();
  }
  state.SetItemsProcessed(state.iterations() * kRowsPerIteration);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ZuvWriteRows)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
