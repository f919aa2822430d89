#pragma once
// The one network step of the tile provider: GET a tile URL with the map's
// user agent. Kept behind this seam so the provider and its tests do not care
// which HTTP layer carries it.
//
// Thread: called on the download thread; must be reentrant.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

struct TTileFetchResult {
  bool received = false;     // an answer arrived whole at transport level (any status)
  int statusCode = 0;        // HTTP status, 0 when none arrived
  std::string body;          // the response body of any status
  std::string cacheControl;  // "Cache-Control" header value, "" when absent
  std::string expires;       // "Expires" header value, "" when absent
};

// Fetches url. `cancelled` turns true when nobody waits for the answer any
// more; a fetch that can stop early should.
using TTileFetch =
    std::function<TTileFetchResult(const std::string& url, const std::string& userAgent, const std::atomic<bool>& cancelled)>;

// Time limits of a tile request: the connection must stand within the first,
// and a request during which nothing arrives for the second is given up. They
// bound how long a dead server keeps a tile waiting; closing the map gives a
// running download up at once through its cancel flag.
inline constexpr std::int32_t kTileConnectLimitMs = 15000;
inline constexpr std::int32_t kTileStallLimitMs = 20000;
// A server that trickles a byte now and then never stalls; the whole tile must
// have arrived within this, or the download slot would be held for ever.
inline constexpr std::int32_t kTileDeadlineMs = 30000;
// A 256-pixel PNG tile is some tens of kilobytes; a body past this is no tile,
// and is given up rather than held in memory.
inline constexpr std::int64_t kTileMaxBytes = 1024 * 1024;

struct TTileFetchLimits {
  std::int32_t connectMs = kTileConnectLimitMs;
  std::int32_t stallMs = kTileStallLimitMs;
  std::int32_t deadlineMs = kTileDeadlineMs;
  std::int64_t maxBytes = kTileMaxBytes;
};

// A fetch through the cloud layer's web request (TWebRequest) with these
// limits; a body over maxBytes or a deadline struck is a failed fetch
// (received false, no body).
TTileFetch WebTileFetch(TTileFetchLimits limits = {});
