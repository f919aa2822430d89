#include "PtyPair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

TPtyPair::TPtyPair() {
  int slave = -1;
  char name[128] = {};
  if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0) return;
  m_slavePath = name;
  // The test does not keep the slave: the port under test is its only user.
  ::close(slave);
}

TPtyPair::~TPtyPair() { CloseMaster(); }

void TPtyPair::CloseMaster() {
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
}

void TPtyPair::WriteAll(const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t r = ::write(m_master, data.data() + done, data.size() - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) {
      pollfd p{m_master, POLLOUT, 0};
      ::poll(&p, 1, 100);
      continue;
    }
    if (r <= 0) return;
    done += static_cast<size_t>(r);
  }
}

std::string TPtyPair::ReadExactly(size_t count, std::chrono::milliseconds limit) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[65536];
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const size_t want = std::min(sizeof buffer, count - out.size());
    const ssize_t r = ::read(m_master, buffer, want);
    if (r > 0) out.append(buffer, static_cast<size_t>(r));
    else if (r < 0 && errno != EINTR && errno != EAGAIN) break;
  }
  return out;
}

std::string TPtyPair::ReadAvailable(std::chrono::milliseconds quiet) {
  std::string out;
  char buffer[4096];
  for (;;) {
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
    const ssize_t r = ::read(m_master, buffer, sizeof buffer);
    if (r <= 0) break;
    out.append(buffer, static_cast<size_t>(r));
  }
  return out;
}

termios TPtyPair::SlaveSettings() const {
  termios t{};
  ::tcgetattr(m_master, &t);  // a pty master reports its slave's settings
  return t;
}

unsigned TPtyPair::SlaveSpeed() const { return PtyOutputSpeed(m_master); }
