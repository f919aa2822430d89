#pragma once
// A minimal HTTP proxy for tests: accepts CONNECT requests on a loopback port, notes
// their targets and relays the tunnel. Enough to show that a client used the proxy.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ConnectProxy {
 public:
  ConnectProxy();
  ~ConnectProxy();
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  int Port() const { return port_; }
  // The "host:port" of every CONNECT received so far.
  std::vector<std::string> Targets();

 private:
  void Serve();
  void Relay(int client);

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::string> targets_;
  std::thread thread_;
};
