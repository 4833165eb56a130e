#pragma once
// A file descriptor with one owner, closed when the owner goes.
#include <unistd.h>

#include <utility>

namespace zx {

class CUniqueFd {
 public:
  CUniqueFd() = default;
  explicit CUniqueFd(int fd) noexcept : m_fd(fd) {}
  CUniqueFd(CUniqueFd&& other) noexcept : m_fd(other.Release()) {}
  CUniqueFd& operator=(CUniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  CUniqueFd(const CUniqueFd&) = delete;
  CUniqueFd& operator=(const CUniqueFd&) = delete;
  ~CUniqueFd() { Reset(); }

  int Get() const noexcept { return m_fd; }
  bool Valid() const noexcept { return m_fd >= 0; }
  // Gives the descriptor up without closing it.
  int Release() noexcept { return std::exchange(m_fd, -1); }
  void Reset(int fd = -1) noexcept {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

}  // namespace zx
