#pragma once
// A request to stop the whole process early (a termination signal), and the
// parties that stop when it comes: each registers a hook that makes its
// blocking work return (a cancelled hand-over, an interrupted statement), so
// that the export unwinds through its normal error path.
#include <functional>
#include <memory>

namespace zx {

// Records `signal` (the first one wins) and runs every registered hook once.
// Thread-safe; not for a signal handler (CSignalWatcher calls it).
void RequestInterruption(int signal) noexcept;
// The signal that asked to stop, or 0.
int InterruptionSignal() noexcept;
// The exit status of a run that a stop request ended, as the system's own
// programs end on it: 128 + the signal's number on POSIX systems,
// STATUS_CONTROL_C_EXIT (0xC000013A) on Windows.
int InterruptionExitStatus() noexcept;

// Runs `stop` when interruption is requested while the hook lives (at once
// when it already was). Once the destructor returns, `stop` is not running
// and never runs again. `stop` must not block and must not create or destroy
// hooks.
class CInterruptionHook {
 public:
  explicit CInterruptionHook(std::function<void()> stop);
  ~CInterruptionHook();
  CInterruptionHook(const CInterruptionHook&) = delete;
  CInterruptionHook& operator=(const CInterruptionHook&) = delete;

 private:
  std::function<void()> m_stop;
};

// While it lives, SIGINT, SIGTERM and SIGHUP request interruption: the
// handler only writes the signal's number to a pipe, and a watcher thread
// passes it on. The previous dispositions come back with the destructor.
// On Windows, Ctrl-C, Ctrl-Break and the console's closing (or the user's
// logoff, the system's shutdown) do, through a console control handler;
// closing waits for the export to unwind, up to the system's limit.
class CSignalWatcher {
 public:
  CSignalWatcher();
  ~CSignalWatcher();
  CSignalWatcher(const CSignalWatcher&) = delete;
  CSignalWatcher& operator=(const CSignalWatcher&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// SIGPIPE and SIGXFSZ are ignored for the rest of the process: a write to a
// reader that went away or past the file size limit then fails with an error
// (EPIPE, EFBIG) that the writer reports, instead of killing the process.
// Windows has neither; there it does nothing.
void IgnoreWriteSignals() noexcept;

}  // namespace zx
