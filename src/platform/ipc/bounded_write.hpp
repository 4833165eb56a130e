#pragma once
// Writing to a reader in another process (a pipe, FIFO, socket, terminal or
// the file behind standard output) without ever hanging on it or dying of it.
#include <cstddef>

namespace zx {

// How long a progress transport waits for a reader that takes nothing before
// it gives the reader up. Every transport (queue, pipe, standard output)
// uses this one bound.
inline constexpr int kStalledReaderLimitMs = 5000;

enum class WriteOutcome {
  kWritten,  // every byte
  kStalled,  // the reader took nothing for the whole limit
  kFailed,   // the write failed (error holds errno): reader gone, disk full, closed fd
};

struct CWriteResult {
  WriteOutcome outcome = WriteOutcome::kWritten;
  int error = 0;
  size_t written = 0;  // bytes that did reach the reader
};

// Writes all `size` bytes to `fd`. Between two writes that make progress it
// waits at most `stallLimitMs` for room. The file's blocking mode is left as
// it is (standard output shares it with other processes): a blocking pipe is
// written in pieces of at most PIPE_BUF once poll reports room, so a write
// never blocks. Never raises SIGPIPE, whatever its disposition: sockets are
// written with MSG_NOSIGNAL, other files with SIGPIPE blocked for the call
// and the SIGPIPE the call caused consumed.
CWriteResult WriteBounded(int fd, const void* data, size_t size,
                          int stallLimitMs = kStalledReaderLimitMs);

}  // namespace zx
