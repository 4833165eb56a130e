#pragma once
// A named interprocess message queue (Boost.Interprocess underneath).
#include <cstddef>
#include <memory>
#include <string>

namespace zx {

class CMessageQueue {
 public:
  // Opens the queue `name`, or creates it with `maxMessages` of
  // `maxMessageSize` bytes. Throws CExportError on failure.
  static std::unique_ptr<CMessageQueue> OpenOrCreate(const std::string& name, size_t maxMessages,
                                                     size_t maxMessageSize);
  // Creates a new queue (removing a stale one of that name first).
  static std::unique_ptr<CMessageQueue> Create(const std::string& name, size_t maxMessages,
                                               size_t maxMessageSize);
  static bool Remove(const std::string& name) noexcept;
  ~CMessageQueue();

  size_t MaxMessageSize() const;
  // Sends one message, priority 0. Waits while the queue is full, but at most
  // `timeoutMs` (negative: for ever); false when it timed out.
  bool Send(const void* data, size_t size, int timeoutMs);
  // Receives one message into `out`; false when `timeoutMs` passed first.
  bool Receive(std::string& out, int timeoutMs);

 private:
  struct Impl;
  explicit CMessageQueue(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

}  // namespace zx
