// The parts of running a program that are the same on every system.
#include <atomic>
#include <chrono>
#include <thread>

#include "support/process.hpp"

namespace zx::test {

CProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const CProcessOptions& options) {
  CChildProcess child(program, args, options);
  return child.Wait();
}

bool WaitUntil(const std::function<bool()>& ready, int limitMs) {
  for (int waited = 0; waited <= limitMs; waited += 10) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ready();
}

std::string UniqueName(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + std::to_string(OwnProcessId()) + "_" + std::to_string(++counter);
}

}  // namespace zx::test
