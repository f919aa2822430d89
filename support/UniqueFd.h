#pragma once
// Owns one POSIX file descriptor and closes it when it goes out of scope.
// Thread: a plain value; a descriptor is used by one thread at a time.

#include <unistd.h>

#include <utility>

class TUniqueFd {
public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) : m_fd(fd) {}
  ~TUniqueFd() { reset(); }
  TUniqueFd(TUniqueFd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  TUniqueFd &operator=(TUniqueFd &&other) noexcept {
    if (this != &other) reset(std::exchange(other.m_fd, -1));
    return *this;
  }
  TUniqueFd(const TUniqueFd &) = delete;
  TUniqueFd &operator=(const TUniqueFd &) = delete;

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  int release() { return std::exchange(m_fd, -1); }
  // A failed close is ignored: the descriptor is gone either way and nothing can be retried.
  void reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

private:
  int m_fd = -1;
};
