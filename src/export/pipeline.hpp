#pragma once
// The hand-over between the read thread and the writer. Lock order: slot
// lock, then batch lock, then the exporter's progress lock (innermost). No
// thread waits on a semaphore while holding a lock.
//
// Signals: the reader releases readyBatches once per completed batch and once
// after its last table; for a table of n batches the writer waits n + 1 times
// and gives the last signal back at the table's end. Either side that fails
// cancels both semaphores, so the other stops at its next wait.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sync/semaphore.hpp"

namespace zx {

inline constexpr int MaxBatchesInFlight = 10;
inline constexpr int BatchRowLimit = 1000;
inline constexpr int32_t TargetRowsPerBatch = 10000;
// A new-layout table pass's batches hold about this many of the table's own
// rows: ten of them in flight stay small beside the rest of the export,
// whatever the survey's size, and cost far fewer queries than one batch per
// planned range.
inline constexpr int32_t TableBatchRows = TargetRowsPerBatch / 2;

template <class Content>
struct RowBatch {
  std::mutex lock;  // held by the read thread while it fills the batch
  Content content;  // guarded by lock
};

template <class Content>
struct TableSlot {
  std::mutex lock;
  std::vector<std::string> columns;  // guarded by lock; legacy: target name of each buffered value
  std::deque<std::unique_ptr<RowBatch<Content>>> batches;  // guarded by lock
  int32_t rowsRead = 0;  // guarded by lock; source rows scanned for this table
};

template <class Content>
using SlotVector = std::vector<std::unique_ptr<TableSlot<Content>>>;

// tableCount + 1 fresh slots (the last one stays unused) and fresh semaphores.
// readyBatches holds one more than the batches in flight: with every batch
// complete and unconsumed, the end signal must still fit, or it would be
// dropped and the writer would wait for ever.
template <class Content>
void SetUpPipeline(SlotVector<Content>& slots, int32_t tableCount,
                   std::unique_ptr<CCancellableSemaphore>& freeBatches,
                   std::unique_ptr<CCancellableSemaphore>& readyBatches) {
  slots.clear();
  for (int32_t i = 0; i <= tableCount; ++i) slots.push_back(std::make_unique<TableSlot<Content>>());
  freeBatches = std::make_unique<CCancellableSemaphore>(MaxBatchesInFlight, MaxBatchesInFlight);
  readyBatches = std::make_unique<CCancellableSemaphore>(0, MaxBatchesInFlight + 1);
}

inline void CancelPipeline(CCancellableSemaphore& freeBatches,
                           CCancellableSemaphore& readyBatches) noexcept {
  freeBatches.Cancel();
  readyBatches.Cancel();
}

// The read thread. Whatever happens, it is joined before this object goes:
// the destructor cancels the hand-over (so a reader blocked on a wait stops)
// and joins.
class CReadThread {
 public:
  CReadThread(CCancellableSemaphore& freeBatches, CCancellableSemaphore& readyBatches,
              std::function<int()> body)
      : m_freeBatches(freeBatches), m_readyBatches(readyBatches) {
    m_thread = std::thread([this, body = std::move(body)] { m_result = body(); });
  }
  ~CReadThread() {
    if (!m_thread.joinable()) return;
    CancelPipeline(m_freeBatches, m_readyBatches);
    m_thread.join();
  }
  CReadThread(const CReadThread&) = delete;
  CReadThread& operator=(const CReadThread&) = delete;

  // Waits for the thread to end by itself; its result (0 or 1).
  // REQUIRES: the writer has taken the end signal, or the hand-over is cancelled.
  int Join() {
    if (m_thread.joinable()) m_thread.join();
    return m_result;
  }

 private:
  CCancellableSemaphore& m_freeBatches;
  CCancellableSemaphore& m_readyBatches;
  int m_result = 1;  // written by the thread, read after join
  std::thread m_thread;
};

// Read side of one batch: waits for a free batch and appends it to the slot,
// locked; Complete() unlocks it, counts the scanned rows and signals the
// writer. Destroyed without Complete() (an error), the batch is unlocked and
// not signalled. Thread: the read thread.
template <class Content>
class CBatchFill {
 public:
  CBatchFill(TableSlot<Content>& slot, CCancellableSemaphore& freeBatches,
             CCancellableSemaphore& readyBatches)
      : m_slot(slot), m_readyBatches(readyBatches) {
    if (freeBatches.Acquire()) Append();
  }
  // A batch whose place in flight the caller took from freeBatches before.
  CBatchFill(TableSlot<Content>& slot, CCancellableSemaphore& readyBatches)
      : m_slot(slot), m_readyBatches(readyBatches) {
    Append();
  }
  CBatchFill(const CBatchFill&) = delete;
  CBatchFill& operator=(const CBatchFill&) = delete;

  // False when the hand-over was cancelled before a batch was free.
  bool Begun() const { return m_batch != nullptr; }
  // REQUIRES: Begun().
  Content& Batch() { return m_batch->content; }

  void Complete(int32_t scannedRows) {
    m_batchLock.unlock();
    {
      std::lock_guard slotLock(m_slot.lock);
      m_slot.rowsRead += scannedRows;
    }
    m_readyBatches.Release();
  }

 private:
  void Append() {
    std::lock_guard slotLock(m_slot.lock);
    m_slot.batches.push_back(std::make_unique<RowBatch<Content>>());
    m_batch = m_slot.batches.back().get();
    m_batchLock = std::unique_lock(m_batch->lock);
  }

  TableSlot<Content>& m_slot;
  CCancellableSemaphore& m_readyBatches;
  RowBatch<Content>* m_batch = nullptr;  // owned by the slot's queue
  std::unique_lock<std::mutex> m_batchLock;
};

// Percentage of the source rows read so far; 100 when nothing was counted.
inline int ProgressPercent(int64_t rowsDone, int64_t totalRows) {
  if (totalRows <= 0) return 100;
  double percent = static_cast<double>(rowsDone) / static_cast<double>(totalRows) * 100.0;
  // Rows added to the source after the count must not push past 100.
  if (percent > 100.0) return 100;
  return percent < 0.0 ? 0 : static_cast<int>(percent);
}

// What the writer's table loop calls; every report takes the progress lock.
struct CPipelineReports {
  std::function<void(const std::string&)> info;
  std::function<void(int)> progress;
};

// The writer's table loop, for tables 1..tableCount. `writer` provides
//   void Open(int tableNumber);
//   void WriteBatch(Content&, const std::vector<std::string>& columns);  // batch lock held
//   void Close(int tableNumber);
// and may throw; the caller then cancels the hand-over (CReadThread does).
// Returns false when the hand-over was cancelled (the reader failed and has
// reported why). Thread: the writer.
template <class Content, class Writer>
bool WriteTables(SlotVector<Content>& slots, int32_t tableCount, CCancellableSemaphore& freeBatches,
                 CCancellableSemaphore& readyBatches, int64_t totalRows,
                 const CPipelineReports& reports, Writer& writer) {
  int64_t rowsDoneBefore = 0;
  for (int32_t t = 0; t < tableCount; ++t) {
    TableSlot<Content>& slot = *slots[t];
    if (!readyBatches.Acquire()) return false;
    writer.Open(t + 1);
    std::unique_lock slotLock(slot.lock);
    const std::vector<std::string> columns = slot.columns;
    reports.info(std::string("[Write Thread] Beginning Writes on table number ") +
                 std::to_string(t + 1));
    while (!slot.batches.empty()) {
      RowBatch<Content>& batch = *slot.batches.front();
      {
        // Blocks until the reader has completed this batch.
        std::unique_lock batchLock(batch.lock);
        slotLock.unlock();
        writer.WriteBatch(batch.content, columns);
      }
      // The batch lock is left before the slot lock is taken again, so the
      // two are only ever nested slot first; the reader is done with the batch.
      slotLock.lock();
      slot.batches.pop_front();
      reports.progress(ProgressPercent(rowsDoneBefore + slot.rowsRead, totalRows));
      slotLock.unlock();
      freeBatches.Release();
      if (!readyBatches.Acquire()) return false;
      slotLock.lock();
    }
    rowsDoneBefore += slot.rowsRead;
    slotLock.unlock();
    // Gives back the signal that belongs to the next table (or the end).
    readyBatches.Release();
    writer.Close(t + 1);
    reports.info(std::string("[Write Thread] Table number ") + std::to_string(t + 1) + " Written");
  }
  return true;
}

}  // namespace zx
