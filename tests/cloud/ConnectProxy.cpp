#include "ConnectProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ConnectProxy::ConnectProxy() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return;
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ConnectProxy::~ConnectProxy() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

std::vector<std::string> ConnectProxy::Targets() {
  std::lock_guard lock(mutex_);
  return targets_;
}

// One client at a time is all the tests need; the poll timeouts let the destructor end it.
void ConnectProxy::Serve() {
  while (!stopping_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Relay(client);
    close(client);
  }
}

void ConnectProxy::Relay(int client) {
  std::string request;
  char buffer[16384];
  while (request.find("\r\n\r\n") == std::string::npos) {
    pollfd p{client, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return;
    const ssize_t n = read(client, buffer, sizeof buffer);
    if (n <= 0) return;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  if (request.rfind("CONNECT ", 0) != 0) return;
  const std::string target = request.substr(8, request.find(' ', 8) - 8);
  {
    std::lock_guard lock(mutex_);
    targets_.push_back(target);
  }
  const std::size_t colon = target.rfind(':');
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(target.substr(colon + 1))));
  inet_pton(AF_INET, target.substr(0, colon).c_str(), &address.sin_addr);
  const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (upstream < 0 || connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (upstream >= 0) close(upstream);
    return;
  }
  const char established[] = "HTTP/1.1 200 Connection established\r\n\r\n";
  if (write(client, established, sizeof established - 1) < 0) {
    close(upstream);
    return;
  }
  pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
  while (!stopping_) {
    if (poll(ends, 2, 100) < 0) break;
    bool closed = false;
    for (int side = 0; side < 2 && !closed; ++side) {
      if (!(ends[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(ends[side].fd, buffer, sizeof buffer);
      closed = n <= 0 || write(ends[1 - side].fd, buffer, static_cast<std::size_t>(n)) != n;
    }
    if (closed) break;
  }
  close(upstream);
}
