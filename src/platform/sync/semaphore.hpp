#pragma once
// A counting semaphore that either side of a hand-over can cancel, so that
// no wait outlives a failure on the other side.
#include <condition_variable>
#include <mutex>

namespace zx {

class CCancellableSemaphore {
 public:
  CCancellableSemaphore(int initial, int maximum);
  // Waits for a count; false once Cancel() has been called (also when a
  // count is available), so a cancelled hand-over stops at the next wait.
  bool Acquire();
  // Adds `count`, up to the maximum (surplus is dropped, as Win32 refuses it).
  void Release(int count = 1);
  void Cancel();
  bool IsCancelled() const;

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_count;  // guarded by m_mutex
  const int m_maximum;
  bool m_cancelled = false;  // guarded by m_mutex
};

}  // namespace zx
