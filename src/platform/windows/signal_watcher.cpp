#include <windows.h>

#include <csignal>

#include "platform/interruption.hpp"

namespace zx {
namespace {

// How long the console's closing waits for the export to unwind; the
// system ends the process itself some 5 s after the event.
constexpr DWORD kCloseWaitMs = 4500;

// Set once the watcher is gone, that is once the export has unwound. Made
// once and never closed: a handler still running may wait on it.
HANDLE UnwoundEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

// Runs on a thread the system starts for each event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      RequestInterruption(SIGINT);
      return TRUE;
    case CTRL_BREAK_EVENT:
      RequestInterruption(SIGBREAK);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: give the export its clean stop first.
      RequestInterruption(SIGTERM);
      ::WaitForSingleObject(UnwoundEvent(), kCloseWaitMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct CSignalWatcher::Impl {
  bool installed = false;
};

CSignalWatcher::CSignalWatcher() : m_impl(std::make_unique<Impl>()) {
  if (UnwoundEvent() == nullptr) return;  // then the events keep their default action
  ::ResetEvent(UnwoundEvent());
  m_impl->installed = ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

CSignalWatcher::~CSignalWatcher() {
  if (!m_impl->installed) return;
  ::SetEvent(UnwoundEvent());
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

void IgnoreWriteSignals() noexcept {}

int InterruptionExitStatus() noexcept {
  // What Windows gives a console program that Ctrl-C ends.
  return static_cast<int>(STATUS_CONTROL_C_EXIT);
}

}  // namespace zx
