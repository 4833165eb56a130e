#include "platform/zuv/fault_hook.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/zuv/engine.hpp"
#include "platform/zuv/sqlite_errors.hpp"

namespace zx {

namespace {

std::mutex g_faultHookMutex;
ZuvFaultHook g_faultHook;  // guarded by g_faultHookMutex
std::atomic<bool> g_faultHookSet{false};

}  // namespace

void CallFaultHook(std::string_view operation, std::string_view table) {
  if (!g_faultHookSet.load(std::memory_order_acquire)) return;
  ZuvFaultHook hook;
  {
    std::lock_guard lock(g_faultHookMutex);
    hook = g_faultHook;
  }
  if (!hook) return;
  if (const uint32_t code = hook(operation, table); code != 0) {
    ThrowEngine(code, "Injected failure");
  }
}

void SetZuvFaultHook(ZuvFaultHook hook) {
  std::lock_guard lock(g_faultHookMutex);
  g_faultHookSet.store(static_cast<bool>(hook), std::memory_order_release);
  g_faultHook = std::move(hook);
}

}  // namespace zx
