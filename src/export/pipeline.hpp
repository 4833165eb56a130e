#pragma once
// The hand-over records between the read thread and the writer. Lock order:
// slot lock, then batch lock, then the exporter's progress lock (innermost).
// No thread waits on a semaphore while holding a lock.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zx {

inline constexpr int MaxBatchesInFlight = 10;
inline constexpr int BatchRowLimit = 1000;
inline constexpr int32_t TargetRowsPerBatch = 10000;

template <class Content>
struct RowBatch {
  std::mutex lock;  // held by the read thread while it fills the batch
  Content content;
};

template <class Content>
struct TableSlot {
  std::mutex lock;
  std::vector<std::string> columns;  // guarded by lock; legacy: target name of each buffered value
  std::deque<std::unique_ptr<RowBatch<Content>>> batches;  // guarded by lock
  int32_t rowsRead = 0;  // guarded by lock; source rows scanned for this table
};

}  // namespace zx
