#pragma once
// The one network step of the tile provider: GET a tile URL with the map's
// user agent. Kept behind this seam so the provider and its tests do not care
// which HTTP layer carries it.
//
// Thread: called on the download thread; must be reentrant.

#include <atomic>
#include <functional>
#include <string>

struct TTileFetchResult {
  bool received = false;     // an answer arrived at transport level (any status)
  int statusCode = 0;        // HTTP status, 0 when none arrived
  std::string body;          // the response body of any status
  std::string cacheControl;  // "Cache-Control" header value, "" when absent
  std::string expires;       // "Expires" header value, "" when absent
};

// Fetches url. Returns early (received false) soon after `cancelled` becomes true.
using TTileFetch =
    std::function<TTileFetchResult(const std::string& url, const std::string& userAgent, const std::atomic<bool>& cancelled)>;

// Time limits of a tile request: the connection must stand within
// kTileConnectLimitSec, and a request during which nothing arrives for
// kTileStallLimitSec is given up. They bound how long a dead server can keep
// a tile (and the exit of the program) waiting.
inline constexpr long kTileConnectLimitSec = 15;
inline constexpr long kTileStallLimitSec = 20;

// The HTTP(S) fetch used by default.
TTileFetchResult FetchTile(const std::string& url, const std::string& userAgent, const std::atomic<bool>& cancelled);
