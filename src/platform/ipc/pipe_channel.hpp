#pragma once
// The client end of a progress pipe: a Unix-domain stream socket, or a FIFO
// when the path is one. Writes never raise SIGPIPE.
#include <cstddef>
#include <memory>
#include <string>

namespace zx {

class CPipeChannel {
 public:
  // NAME without '/' is <temp dir>/CoreFxPipe_NAME; with '/', the path itself.
  static std::string PathForName(const std::string& name);
  CPipeChannel() = default;
  ~CPipeChannel();
  CPipeChannel(const CPipeChannel&) = delete;
  CPipeChannel& operator=(const CPipeChannel&) = delete;
  // Connects once; waits while a listener exists but is busy. false (and
  // silent) when nobody listens.
  bool Connect(const std::string& path);
  bool IsConnected() const { return m_fd >= 0; }
  // One write of all bytes; false when the other end is gone.
  bool Send(const void* data, size_t size);
  void Close();

 private:
  int m_fd = -1;
};

}  // namespace zx
