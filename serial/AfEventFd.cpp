#include "AfEventFd.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

TAfEventFd::TAfEventFd() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

bool TAfEventFd::EnsureValid() {
  if (m_fd < 0) m_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return m_fd >= 0;
}

TAfEventFd::~TAfEventFd() {
  if (m_fd >= 0) ::close(m_fd);
}

void TAfEventFd::Signal() {
  const uint64_t one = 1;
  ssize_t r;
  do r = ::write(m_fd, &one, sizeof one);
  while (r < 0 && errno == EINTR);
}

void TAfEventFd::Drain() {
  uint64_t value = 0;
  ssize_t r;
  do r = ::read(m_fd, &value, sizeof value);
  while (r < 0 && errno == EINTR);
}
