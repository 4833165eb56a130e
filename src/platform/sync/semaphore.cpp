#include "platform/sync/semaphore.hpp"

#include <algorithm>

namespace zx {

CCancellableSemaphore::CCancellableSemaphore(int initial, int maximum)
    : m_count(initial), m_maximum(maximum) {}

bool CCancellableSemaphore::Acquire() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return m_cancelled || m_count > 0; });
  if (m_cancelled) return false;
  --m_count;
  return true;
}

void CCancellableSemaphore::Release(int count) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_count = std::min(m_maximum, m_count + count);
  }
  m_changed.notify_all();
}

void CCancellableSemaphore::Cancel() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
  }
  m_changed.notify_all();
}

bool CCancellableSemaphore::IsCancelled() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_cancelled;
}

}  // namespace zx
