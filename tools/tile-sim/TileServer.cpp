#include "TileServer.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <regex>

#include "Certificate.h"
#include "TileArt.h"

namespace tilesim {

namespace {

// Clients keep their connection for every tile they ask for.
constexpr std::size_t kKeepAliveRequests = 100000;
// Several hanging or trickling requests each hold a worker until the end.
constexpr std::size_t kWorkerThreads = 16;
constexpr std::size_t kHugeBytes = 64u * 1024 * 1024;
constexpr std::size_t kChunkBytes = 64u * 1024;

// The picture a rate-limiting public server sends instead of a tile.
std::string BlockedPng() {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kTileSide) * kTileSide * 3);
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    const std::size_t pixel = i / 3;
    const bool stripe = ((pixel % kTileSide) + (pixel / kTileSide)) / 16 % 2 == 0;
    rgb[i] = 200;
    rgb[i + 1] = stripe ? 200 : 30;
    rgb[i + 2] = 30;
  }
  return EncodePng(rgb, kTileSide, kTileSide);
}

bool ParsePart(const std::string& text, int& value) {
  if (text == "*") {
    value = -1;
    return true;
  }
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoi(text);
  return true;
}

}  // namespace

std::optional<FaultRule> ParseFaultRule(const std::string& text) {
  static const std::map<std::string, FaultKind> kinds = {
      {"missing", FaultKind::Missing},     {"corrupt", FaultKind::Corrupt},       {"slow", FaultKind::Slow},
      {"hang", FaultKind::Hang},           {"endless", FaultKind::Endless},       {"huge", FaultKind::Huge},
      {"trickle", FaultKind::Trickle},     {"wrongsize", FaultKind::WrongSize},   {"farexpires", FaultKind::FarExpires},
      {"nostore", FaultKind::NoStore},     {"blocked", FaultKind::Blocked}};
  const std::size_t colon = text.find(':');
  const auto kind = kinds.find(text.substr(0, colon));
  if (kind == kinds.end()) return std::nullopt;
  FaultRule rule;
  rule.kind = kind->second;
  if (colon == std::string::npos) return rule;
  const std::string tile = text.substr(colon + 1);
  const std::size_t first = tile.find('/');
  const std::size_t second = first == std::string::npos ? first : tile.find('/', first + 1);
  if (second == std::string::npos) return std::nullopt;
  if (!ParsePart(tile.substr(0, first), rule.zoom) || !ParsePart(tile.substr(first + 1, second - first - 1), rule.x) ||
      !ParsePart(tile.substr(second + 1), rule.y))
    return std::nullopt;
  return rule;
}

TileServer::TileServer(ServerOptions options) : m_options(std::move(options)) {
  if (m_options.tlsFolder.empty()) {
    m_server = std::make_unique<httplib::Server>();
  } else {
    cloudsim::CertificateFiles files;
    if (cloudsim::EnsureCertificate(m_options.tlsFolder, files, m_startError)) {
      m_certificatePath = files.certificatePath;
      m_server = std::make_unique<httplib::SSLServer>(files.certificatePath.c_str(), files.keyPath.c_str());
    }
  }
  if (!m_server) return;
  m_server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  m_server->set_keep_alive_max_count(kKeepAliveRequests);
  m_server->set_tcp_nodelay(true);
  m_server->Get(R"(/(\d{1,2})/(\d{1,9})/(\d{1,9})\.png)", [this](const httplib::Request& request,
                                                                   httplib::Response& response) {
    bool newConnection;
    int connections;
    {
      std::lock_guard lock(m_mutex);
      newConnection = m_connections.insert(request.remote_addr + ":" + std::to_string(request.remote_port)).second;
      connections = static_cast<int>(m_connections.size());
      m_lastUserAgent = request.get_header_value("User-Agent");
    }
    if (newConnection && m_options.verbose)
      std::fprintf(stderr, "tile-sim: connection %d from %s:%d\n", connections, request.remote_addr.c_str(),
                   request.remote_port);
    Serve(request.path, std::stoi(request.matches[1]), std::stoi(request.matches[2]), std::stoi(request.matches[3]),
          response);
  });
}

void TileServer::Serve(const std::string& path, int zoom, int x, int y, httplib::Response& response) {
  std::optional<FaultKind> fault;
  int maxAge;
  {
    std::lock_guard lock(m_mutex);
    ++m_requests[path];
    ++m_total;
    fault = FaultFor(zoom, x, y);
    maxAge = m_options.maxAgeSeconds;
  }
  if (m_options.verbose) std::fprintf(stderr, "tile-sim: GET %s\n", path.c_str());
  if (fault == FaultKind::Hang) {
    WaitForStop(-1);
    response.status = 503;
    return;
  }
  if (fault == FaultKind::Slow && WaitForStop(m_options.slowMs)) {
    response.status = 503;
    return;
  }
  if (fault == FaultKind::Missing || zoom > 30 || x >= (1 << std::min(zoom, 30)) || y >= (1 << std::min(zoom, 30))) {
    response.status = 404;
    response.set_content("Tile not found\n", "text/plain");
    return;
  }
  if (fault == FaultKind::Blocked) {
    response.status = 403;
    response.set_content(BlockedPng(), "image/png");
    return;
  }
  if (fault == FaultKind::WrongSize) {
    const int side = 2 * kTileSide;
    response.set_content(EncodePng(std::vector<std::uint8_t>(static_cast<std::size_t>(side) * side * 3, 90), side, side),
                         "image/png");
    return;
  }
  std::string png = EncodePng(DrawTile(zoom, x, y), kTileSide, kTileSide);
  if (fault == FaultKind::Endless || fault == FaultKind::Huge) {
    // A real tile's start, then filler: what matters is that it does not stop.
    auto piece = std::make_shared<std::string>(png + std::string(kChunkBytes, '\x55'));
    auto write = [this, piece](std::size_t, httplib::DataSink& sink) {
      if (WaitForStop(0)) return false;
      return sink.write(piece->data(), piece->size());
    };
    if (fault == FaultKind::Endless)
      response.set_chunked_content_provider("image/png", write);
    else
      response.set_content_provider(kHugeBytes, "image/png", [this, piece](std::size_t offset, std::size_t length,
                                                                           httplib::DataSink& sink) {
        if (WaitForStop(0)) return false;
        (void)offset;
        return sink.write(piece->data(), std::min(length, piece->size()));
      });
    return;
  }
  if (fault == FaultKind::Trickle) {
    auto bytes = std::make_shared<std::string>(std::move(png));
    response.set_content_provider(bytes->size(), "image/png", [this, bytes](std::size_t offset, std::size_t,
                                                                            httplib::DataSink& sink) {
      if (offset > 0 && WaitForStop(m_options.trickleMs)) return false;
      return sink.write(bytes->data() + offset, 1);
    });
    return;
  }
  if (fault == FaultKind::Corrupt) png = Corrupted(png);
  if (fault == FaultKind::NoStore)
    response.set_header("Cache-Control", "no-store");
  else if (maxAge >= 0)
    response.set_header("Cache-Control", "max-age=" + std::to_string(maxAge));
  if (fault == FaultKind::FarExpires) response.set_header("Expires", "Fri, 31 Dec 9999 23:59:59 GMT");
  response.set_content(png, "image/png");
}

TileServer::~TileServer() { Stop(); }

bool TileServer::Start() {
  if (!m_server) return false;
  m_port = m_options.port == 0 ? m_server->bind_to_any_port(m_options.bindAddress)
                               : (m_server->bind_to_port(m_options.bindAddress, m_options.port) ? m_options.port : -1);
  if (m_port <= 0) return false;
  m_listenEnded = false;
  m_thread = std::thread([this] {
    m_server->listen_after_bind();
    m_listenEnded = true;
  });
  // The server's stop() does nothing until its loop runs: a Stop() that came
  // first would leave the loop running and the join waiting for ever.
  while (!m_server->is_running() && !m_listenEnded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return m_server->is_running();
}

void TileServer::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_stopped.notify_all();
  if (!m_server) return;
  m_server->stop();
  if (m_thread.joinable()) m_thread.join();
}

std::string TileServer::BaseUrl() const {
  return std::string(m_certificatePath.empty() ? "http://" : "https://") + m_options.bindAddress + ":" + std::to_string(m_port) + "/";
}

void TileServer::SetFaults(std::vector<FaultRule> faults) {
  std::lock_guard lock(m_mutex);
  m_options.faults = std::move(faults);
}

void TileServer::SetMaxAge(int seconds) {
  std::lock_guard lock(m_mutex);
  m_options.maxAgeSeconds = seconds;
}

int TileServer::Requests(const std::string& path) const {
  std::lock_guard lock(m_mutex);
  const auto found = m_requests.find(path);
  return found == m_requests.end() ? 0 : found->second;
}

int TileServer::TotalRequests() const {
  std::lock_guard lock(m_mutex);
  return m_total;
}

int TileServer::Connections() const {
  std::lock_guard lock(m_mutex);
  return static_cast<int>(m_connections.size());
}

std::string TileServer::LastUserAgent() const {
  std::lock_guard lock(m_mutex);
  return m_lastUserAgent;
}

std::optional<FaultKind> TileServer::FaultFor(int zoom, int x, int y) const {
  for (const FaultRule& rule : m_options.faults)
    if ((rule.zoom < 0 || rule.zoom == zoom) && (rule.x < 0 || rule.x == x) && (rule.y < 0 || rule.y == y))
      return rule.kind;
  return std::nullopt;
}

bool TileServer::WaitForStop(int ms) {
  std::unique_lock lock(m_mutex);
  if (ms < 0) {
    m_stopped.wait(lock, [this] { return m_stopping; });
    return true;
  }
  return m_stopped.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping; });
}

}  // namespace tilesim
