#pragma once
// TileServer: the HTTP side of tile-sim. Serves GET /<zoom>/<x>/<y>.png with
// a generated tile (TileArt), and misbehaves on request for the tiles a fault
// rule selects:
//   missing  404 with a short text body
//   corrupt  200 with a PNG that breaks off into noise
//   slow     the tile, after slowMs
//   hang     no answer at all until the server stops
//   endless  200 and a body that never ends (chunked, until the client leaves)
//   huge     200 and a 64 MiB body announced by its length
//   trickle  the tile one byte every trickleMs
//   wrongsize  a good PNG of 512 x 512 pixels
//   farexpires the tile with "Expires: Fri, 31 Dec 9999 23:59:59 GMT"
//   nostore  the tile with "Cache-Control: no-store"
//   blocked  a decodable 256 x 256 "blocked" picture with status 403
// Optionally every tile carries "Cache-Control: max-age=<maxAgeSeconds>".
// With a certificate folder it serves HTTPS (a self-signed certificate for
// 127.0.0.1 and localhost, made there at the first start). It counts the
// TCP connections its clients open.
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
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Response;
}

namespace tilesim {

enum class FaultKind { Missing, Corrupt, Slow, Hang, Endless, Huge, Trickle, WrongSize, FarExpires, NoStore, Blocked };

// Selects tiles by zoom, x and y; -1 matches any value.
struct FaultRule {
  FaultKind kind = FaultKind::Missing;
  int zoom = -1;
  int x = -1;
  int y = -1;
};

// A fault's name (see above), optionally followed by ":" and a
// tile "z/x/y" in which any part may be "*". nullopt when malformed.
std::optional<FaultRule> ParseFaultRule(const std::string& text);

struct ServerOptions {
  std::string bindAddress = "127.0.0.1";
  int port = 0;  // 0: any free port
  std::vector<FaultRule> faults;
  int slowMs = 3000;
  int maxAgeSeconds = -1;  // -1: no Cache-Control header
  int trickleMs = 15000;   // pause between the bytes of a "trickle" tile
  // Non-empty: serve HTTPS with the certificate kept in this folder.
  std::string tlsFolder;
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
  // "http://<address>:<port>/" (https with a certificate folder)
  std::string BaseUrl() const;
  // The PEM certificate a client must trust for HTTPS; "" for HTTP.
  const std::string& CertificatePath() const { return m_certificatePath; }
  // Why Start failed, for the log.
  const std::string& StartError() const { return m_startError; }

  void SetFaults(std::vector<FaultRule> faults);
  void SetMaxAge(int seconds);
  // Requests seen for one path ("/14/9773/6671.png"), and in all.
  int Requests(const std::string& path) const;
  int TotalRequests() const;
  // TCP connections the requests came over (distinct client address and port).
  int Connections() const;
  std::string LastUserAgent() const;

 private:
  std::optional<FaultKind> FaultFor(int zoom, int x, int y) const;
  // Waits up to ms, or until Stop; true when stopped.
  bool WaitForStop(int ms);

  void Serve(const std::string& path, int zoom, int x, int y, httplib::Response& response);

  ServerOptions m_options;
  std::string m_certificatePath;
  std::string m_startError;
  std::unique_ptr<httplib::Server> m_server;
  std::thread m_thread;
  std::atomic<bool> m_listenEnded{false};
  int m_port = 0;
  mutable std::mutex m_mutex;
  std::condition_variable m_stopped;
  bool m_stopping = false;
  std::map<std::string, int> m_requests;
  int m_total = 0;
  std::set<std::string> m_connections;
  std::string m_lastUserAgent;
};

}  // namespace tilesim
