#pragma once
// The client end of a progress pipe: a Unix-domain stream socket, or a FIFO
// when the path is one. It only writes. Writes never raise SIGPIPE.
#include <cstddef>
#include <string>

#include "platform/ipc/bounded_write.hpp"

#include "platform/unique_fd.hpp"

namespace zx {

class CPipeChannel {
 public:
  // How long Connect waits, at most, while a listener exists but has no room
  // for another connection: a listener that accepts nothing is a reader that
  // takes nothing.
  static constexpr int kBusyWaitLimitMs = kStalledReaderLimitMs;

  // NAME without '/' is <temp dir>/CoreFxPipe_NAME, the temp dir being $TMPDIR
  // or /tmp (where .NET puts the socket of a pipe server of that name); NAME
  // with '/' is the path itself.
  static std::string PathForName(const std::string& name);

  CPipeChannel() = default;
  ~CPipeChannel();
  CPipeChannel(const CPipeChannel&) = delete;
  CPipeChannel& operator=(const CPipeChannel&) = delete;

  // Connects once to the socket or FIFO at `path`. false, silently, when
  // nobody listens (no such path, a stale socket, a FIFO without reader, a
  // path too long for a socket address) or the listener stays busy longer
  // than `busyWaitLimitMs`.
  bool Connect(const std::string& path, int busyWaitLimitMs = kBusyWaitLimitMs);
  bool IsConnected() const { return m_fd.Valid(); }
  // Writes all bytes. Waits while the reader's buffer is full, but at most
  // `stallLimitMs` without progress. false, and the channel closed for good,
  // when the other end is gone or has taken nothing for that long.
  bool Send(const void* data, size_t size, int stallLimitMs);
  void Close() noexcept;

 private:
  CUniqueFd m_fd;
};

}  // namespace zx
