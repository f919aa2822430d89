#pragma once
// TileServer: the HTTP side of tile-sim. Serves GET /<zoom>/<x>/<y>.png with
// a generated tile (TileArt), and misbehaves on request for the tiles a fault
// rule selects:
//   missing  404 with a short text body
//   corrupt  200 with a PNG that breaks off into noise
//   slow     the tile, after slowMs
//   hang     no answer at all until the server stops
// Optionally every tile carries "Cache-Control: max-age=<maxAgeSeconds>".
//
// Thread: Start/Stop from one thread; requests are served on the HTTP
// library's worker threads; the counters and rules may be read and changed
// from any thread.

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace tilesim {

enum class FaultKind { Missing, Corrupt, Slow, Hang };

// Selects tiles by zoom, x and y; -1 matches any value.
struct FaultRule {
  FaultKind kind = FaultKind::Missing;
  int zoom = -1;
  int x = -1;
  int y = -1;
};

// "missing", "corrupt", "slow" or "hang", optionally followed by ":" and a
// tile "z/x/y" in which any part may be "*". nullopt when malformed.
std::optional<FaultRule> ParseFaultRule(const std::string& text);

struct ServerOptions {
  std::string bindAddress = "127.0.0.1";
  int port = 0;  // 0: any free port
  std::vector<FaultRule> faults;
  int slowMs = 3000;
  int maxAgeSeconds = -1;  // -1: no Cache-Control header
  bool verbose = false;
};

class TileServer {
 public:
  explicit TileServer(ServerOptions options);
  ~TileServer();
  TileServer(const TileServer&) = delete;
  TileServer& operator=(const TileServer&) = delete;

  // Binds and starts serving on a thread of its own; false when the address
  // cannot be bound.
  bool Start();
  // Releases hanging and slow requests and stops.
  void Stop();
  int Port() const { return m_port; }
  // "http://<address>:<port>/"
  std::string BaseUrl() const;

  void SetFaults(std::vector<FaultRule> faults);
  void SetMaxAge(int seconds);
  // Requests seen for one path ("/14/9773/6671.png"), and in all.
  int Requests(const std::string& path) const;
  int TotalRequests() const;
  std::string LastUserAgent() const;

 private:
  std::optional<FaultKind> FaultFor(int zoom, int x, int y) const;
  // Waits up to ms, or until Stop; true when stopped.
  bool WaitForStop(int ms);

  ServerOptions m_options;
  std::unique_ptr<httplib::Server> m_server;
  std::thread m_thread;
  std::atomic<bool> m_listenEnded{false};
  int m_port = 0;
  mutable std::mutex m_mutex;
  std::condition_variable m_stopped;
  bool m_stopping = false;
  std::map<std::string, int> m_requests;
  int m_total = 0;
  std::string m_lastUserAgent;
};

}  // namespace tilesim
