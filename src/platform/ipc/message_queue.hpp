#pragma once
// A named interprocess message queue (Boost.Interprocess underneath), shared
// by processes on one machine under a name.
#include <cstddef>
#include <memory>
#include <string>

namespace zx {

class CMessageQueue {
 public:
  // Opens the queue `name` with its own limits, or creates it with
  // `maxMessages` of `maxMessageSize` bytes. Throws CExportError on failure.
  static std::unique_ptr<CMessageQueue> OpenOrCreate(const std::string& name, size_t maxMessages,
                                                     size_t maxMessageSize);
  // Creates a new queue, removing a stale one of that name first.
  static std::unique_ptr<CMessageQueue> Create(const std::string& name, size_t maxMessages,
                                               size_t maxMessageSize);
  // Removes the name; processes that hold the queue open keep their view of
  // it. false when there was nothing to remove or removal failed.
  static bool Remove(const std::string& name) noexcept;
  // Whether a queue of that name exists now.
  static bool Exists(const std::string& name) noexcept;
  ~CMessageQueue();
  CMessageQueue(const CMessageQueue&) = delete;
  CMessageQueue& operator=(const CMessageQueue&) = delete;

  size_t MaxMessageSize() const;
  size_t MaxMessages() const;
  size_t MessageCount() const;
  // Sends one message, priority 0. Waits while the queue is full, but at most
  // `timeoutMs` (0: not at all; negative: for ever); false when it timed out.
  // REQUIRES: size <= MaxMessageSize() (otherwise throws CExportError).
  bool Send(const void* data, size_t size, int timeoutMs);
  // Receives one message into `out`; false when `timeoutMs` (0: none;
  // negative: for ever) passed first.
  bool Receive(std::string& out, int timeoutMs);

 private:
  struct Impl;
  explicit CMessageQueue(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

}  // namespace zx
