#include "platform/console.hpp"

#include <atomic>
#include <chrono>
#include <string>

#include <fmt/format.h>

#include "platform/console_impl.hpp"
#include "platform/error.hpp"
#include "platform/ipc/bounded_write.hpp"

namespace zx {
namespace {

std::atomic<bool> s_outputLost{false};

// Descriptors 1 and 2 on every system the program runs on.
constexpr int kStandardOutputFd = 1;
constexpr int kStandardErrorFd = 2;

}  // namespace

void GiveUpStandardOutput(const std::string& reason) {
  if (s_outputLost.exchange(true)) return;
  WriteStandardError(
      fmt::format("Warning: standard output is lost ({}); what follows is not printed\n", reason));
}

bool WriteStandardOutput(std::string_view text) {
  if (s_outputLost.load()) return false;
  const CWriteResult result = WriteBounded(kStandardOutputFd, text.data(), text.size());
  if (result.outcome == WriteOutcome::kWritten) return true;
  GiveUpStandardOutput(
      result.outcome == WriteOutcome::kStalled
          ? fmt::format("its reader took nothing for {} s", kStalledReaderLimitMs / 1000)
          : SystemErrorText(result.error));
  return false;
}

void WriteStandardError(std::string_view text) {
  WriteBounded(kStandardErrorFd, text.data(), text.size());
}

uint32_t TickCountMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace zx
