#include "platform/interruption.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace zx {

namespace {

std::atomic<int> g_signal{0};
std::mutex g_hooksMutex;
std::vector<CInterruptionHook*> g_hooks;      // guarded by g_hooksMutex
std::vector<std::function<void()>*> g_stops;  // guarded by g_hooksMutex, parallel to g_hooks

}  // namespace

void RequestInterruption(int signal) noexcept {
  int expected = 0;
  if (!g_signal.compare_exchange_strong(expected, signal)) return;
  std::lock_guard lock(g_hooksMutex);
  for (std::function<void()>* stop : g_stops) (*stop)();
}

int InterruptionSignal() noexcept { return g_signal.load(std::memory_order_acquire); }

CInterruptionHook::CInterruptionHook(std::function<void()> stop) : m_stop(std::move(stop)) {
  std::lock_guard lock(g_hooksMutex);
  g_hooks.push_back(this);
  g_stops.push_back(&m_stop);
  if (InterruptionSignal() != 0) m_stop();
}

CInterruptionHook::~CInterruptionHook() {
  std::lock_guard lock(g_hooksMutex);
  const auto it = std::find(g_hooks.begin(), g_hooks.end(), this);
  if (it == g_hooks.end()) return;
  g_stops.erase(g_stops.begin() + (it - g_hooks.begin()));
  g_hooks.erase(it);
}

}  // namespace zx
