#include "TileServer.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <regex>

#include "TileArt.h"

namespace tilesim {

namespace {

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
      {"missing", FaultKind::Missing}, {"corrupt", FaultKind::Corrupt}, {"slow", FaultKind::Slow}, {"hang", FaultKind::Hang}};
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

TileServer::TileServer(ServerOptions options)
    : m_options(std::move(options)), m_server(std::make_unique<httplib::Server>()) {
  m_server->Get(R"(/(\d{1,2})/(\d{1,9})/(\d{1,9})\.png)", [this](const httplib::Request& request,
                                                                   httplib::Response& response) {
    const int zoom = std::stoi(request.matches[1]);
    const int x = std::stoi(request.matches[2]);
    const int y = std::stoi(request.matches[3]);
    std::optional<FaultKind> fault;
    int maxAge;
    {
      std::lock_guard lock(m_mutex);
      ++m_requests[request.path];
      ++m_total;
      m_lastUserAgent = request.get_header_value("User-Agent");
      fault = FaultFor(zoom, x, y);
      maxAge = m_options.maxAgeSeconds;
    }
    if (m_options.verbose) std::fprintf(stderr, "tile-sim: GET %s\n", request.path.c_str());
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
    std::string png = EncodePng(DrawTile(zoom, x, y), kTileSide, kTileSide);
    if (fault == FaultKind::Corrupt) png = Corrupted(png);
    if (maxAge >= 0) response.set_header("Cache-Control", "max-age=" + std::to_string(maxAge));
    response.set_content(png, "image/png");
  });
}

TileServer::~TileServer() { Stop(); }

bool TileServer::Start() {
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
  m_server->stop();
  if (m_thread.joinable()) m_thread.join();
}

std::string TileServer::BaseUrl() const {
  return "http://" + m_options.bindAddress + ":" + std::to_string(m_port) + "/";
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
