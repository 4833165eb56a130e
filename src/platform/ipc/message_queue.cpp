#include "platform/ipc/message_queue.hpp"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/interprocess/ipc/message_queue.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include "platform/error.hpp"

namespace zx {

namespace bip = boost::interprocess;

struct CMessageQueue::Impl {
  std::unique_ptr<bip::message_queue> queue;
};

namespace {

constexpr const char* kComponent = "message_queue";

[[noreturn]] void Rethrow(const std::string& name, const bip::interprocess_exception& e) {
  throw CExportError(codes::kFail, kComponent, "queue '" + name + "': " + e.what());
}

boost::posix_time::ptime DeadlineAfter(int timeoutMs) {
  // Boost.Interprocess measures its time-outs against universal time.
  return boost::posix_time::microsec_clock::universal_time() +
         boost::posix_time::milliseconds(timeoutMs);
}

}  // namespace

CMessageQueue::CMessageQueue(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
CMessageQueue::~CMessageQueue() = default;

std::unique_ptr<CMessageQueue> CMessageQueue::OpenOrCreate(const std::string& name,
                                                           size_t maxMessages,
                                                           size_t maxMessageSize) {
  auto impl = std::make_unique<Impl>();
  try {
    impl->queue = std::make_unique<bip::message_queue>(bip::open_or_create, name.c_str(),
                                                       maxMessages, maxMessageSize);
  } catch (const bip::interprocess_exception& e) {
    Rethrow(name, e);
  }
  return std::unique_ptr<CMessageQueue>(new CMessageQueue(std::move(impl)));
}

std::unique_ptr<CMessageQueue> CMessageQueue::Create(const std::string& name, size_t maxMessages,
                                                     size_t maxMessageSize) {
  Remove(name);
  auto impl = std::make_unique<Impl>();
  try {
    impl->queue = std::make_unique<bip::message_queue>(bip::create_only, name.c_str(), maxMessages,
                                                       maxMessageSize);
  } catch (const bip::interprocess_exception& e) {
    Rethrow(name, e);
  }
  return std::unique_ptr<CMessageQueue>(new CMessageQueue(std::move(impl)));
}

bool CMessageQueue::Remove(const std::string& name) noexcept {
  try {
    return bip::message_queue::remove(name.c_str());
  } catch (...) {
    return false;
  }
}

bool CMessageQueue::Exists(const std::string& name) noexcept {
  try {
    bip::shared_memory_object probe(bip::open_only, name.c_str(), bip::read_only);
    return true;
  } catch (...) {
    return false;
  }
}

size_t CMessageQueue::MaxMessageSize() const { return m_impl->queue->get_max_msg_size(); }
size_t CMessageQueue::MaxMessages() const { return m_impl->queue->get_max_msg(); }
size_t CMessageQueue::MessageCount() const { return m_impl->queue->get_num_msg(); }

bool CMessageQueue::Send(const void* data, size_t size, int timeoutMs) {
  try {
    if (timeoutMs < 0) {
      m_impl->queue->send(data, size, 0);
      return true;
    }
    if (timeoutMs == 0) return m_impl->queue->try_send(data, size, 0);
    return m_impl->queue->timed_send(data, size, 0, DeadlineAfter(timeoutMs));
  } catch (const bip::interprocess_exception& e) {
    throw CExportError(codes::kFail, kComponent, e.what());
  }
}

bool CMessageQueue::Receive(std::string& out, int timeoutMs) {
  out.resize(MaxMessageSize());
  bip::message_queue::size_type received = 0;
  unsigned int priority = 0;
  bool got = true;
  try {
    if (timeoutMs < 0) {
      m_impl->queue->receive(out.data(), out.size(), received, priority);
    } else if (timeoutMs == 0) {
      got = m_impl->queue->try_receive(out.data(), out.size(), received, priority);
    } else {
      got = m_impl->queue->timed_receive(out.data(), out.size(), received, priority,
                                         DeadlineAfter(timeoutMs));
    }
  } catch (const bip::interprocess_exception& e) {
    throw CExportError(codes::kFail, kComponent, e.what());
  }
  out.resize(got ? received : 0);
  return got;
}

}  // namespace zx
