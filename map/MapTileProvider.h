#pragma once
// TMapTileProvider: the map box's supply of 256 x 256 tiles in the Web
// Mercator numbering (2^zoom tiles a side, x eastward from -180 degrees, y
// southward from the north edge).
//
// A memory cache of at most kTileCacheSize tiles, evicting the least recently
// looked-up; missing tiles are downloaded one at a time by a TMapTileProviderThread,
// the most urgent (smallest priority) first; a failed tile waits three
// minutes before it is tried again. Behind the memory cache sits an optional
// disk cache (TTileDiskCache) that the download thread consults first. One
// download thread serves the provider for its whole life, so its connection
// to the tile server is reused.
//
// Priorities follow the view: a painter that calls BeginView before asking
// for the tiles of a view makes those tiles the only ones waiting to be
// downloaded, each with the priority it was just asked with; tiles of earlier
// views stay in the cache but are not fetched until asked for again.
//
// After every finished download the owner callback runs, so that the map
// paints again.
//
// Ownership: owned by its map box. GetTile returns a pointer into the cache,
// valid until the next call that may evict (GetTile of a new tile, or a
// finished download, which arrives through the event loop).
//
// Destruction cancels a running download and waits for its thread; the wait
// ends within the fetch's time limits (kTileConnectLimitMs, kTileStallLimitMs).
// Its result never reaches the provider.
//
// Times come from Now() (support/Clock.h), so tests can move the clock.
//
// Thread: GUI thread only (the thread it was created on must run an event loop).

#include <QImage>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "TileFetch.h"

class QObject;
class TMapTileProviderThread;
class TTileDiskCache;

inline constexpr int kTileSize = 256;
inline constexpr int kTileCacheSize = 64;
// Public street-map tiles; the server asks clients to identify themselves and
// to cache, which the user agent and the disk cache do, and asks every map
// built on its tiles to credit them (kDefaultTileCredit).
inline constexpr const char* kDefaultTileServer = "https://tile.openstreetmap.org/";
inline constexpr const char* kDefaultTileCredit = "\u00A9 OpenStreetMap contributors";

// "Qel Orvane Monitor/<version>": the tool and its version, as tile servers ask.
std::string MapUserAgent();

struct TMapTileProviderOptions {
  // Empty: WebTileFetch() (HTTP(S) through the cloud layer's web request).
  TTileFetch fetch;
  // None: the default folder for the base URL (TTileDiskCache::DefaultFolder),
  // unless noDiskCache is set.
  std::shared_ptr<TTileDiskCache> diskCache;
  bool noDiskCache = false;
};

class TMapTileProvider {
 public:
  // A base URL beginning with "http://" or "https://" is taken, with "/"
  // appended when missing; anything else selects kDefaultTileServer.
  explicit TMapTileProvider(const std::string& baseUrl, TMapTileProviderOptions options = {});
  ~TMapTileProvider();
  TMapTileProvider(const TMapTileProvider&) = delete;
  TMapTileProvider& operator=(const TMapTileProvider&) = delete;

  // The tile's image, or nullptr while it is not loaded. A tile not yet in
  // the cache is added with this priority (smaller is more urgent) and the
  // scheduler runs. Every call counts as a use of the tile.
  const QImage* GetTile(int x, int y, std::uint8_t zoom, int priority);
  // A new view is being asked for: tiles not asked for again before the next
  // BeginView are no longer downloaded (nor retried).
  void BeginView() { ++m_view; }
  bool AnyTileLoaded() const { return m_anyTileLoaded; }
  // The tile as far as it is already here: the memory cache, else the disk
  // cache (stale tiles included: an old street map beats none). Never starts a
  // download and does not count as a use; a null image when neither has it.
  QImage CachedTile(int x, int y, std::uint8_t zoom) const;
  // The owner callback, run after every finished download.
  std::function<void()> OnTileLoaded;

  const std::string& BaseURL() const { return m_baseUrl; }
  static std::string NormalizedBaseURL(const std::string& baseUrl);
  // base + zoom + "/" + x + "/" + y + ".png"
  static std::string TileURL(const std::string& baseUrl, int x, int y, std::uint8_t zoom);

  int CacheCount() const { return static_cast<int>(m_entries.size()); }
  // A tile is being fetched, or offered to the worker as the next one.
  bool IsDownloading() const { return m_inFlight > 0; }
  // The delay the wake-up timer was armed with, in ms; -1 when it is stopped.
  int WakeUpDelayMs() const { return m_timer.isActive() ? m_timer.interval() : -1; }
  // Runs the scheduler as the wake-up timer would.
  void WakeUp();

 private:
  struct Entry;
  Entry* Lookup(int x, int y, std::uint8_t zoom);
  // As Lookup, without counting as a use.
  Entry* Find(int x, int y, std::uint8_t zoom);
  // priority: none keeps an existing entry's own (a finished download).
  void Store(int x, int y, std::uint8_t zoom, QImage image, std::optional<int> priority);
  void MakeRoom();
  void Schedule();
  void HandleResult(int x, int y, std::uint8_t zoom, QImage image, bool stale);

  std::string m_baseUrl;
  TMapTileProviderOptions m_options;
  // Newest first.
  std::list<Entry> m_entries;
  bool m_anyTileLoaded = false;
  // Tiles handed to the worker (running or offered) whose result has not come.
  int m_inFlight = 0;
  // The tile last offered as the next one; once the worker has taken it,
  // Schedule forgets it (the worker tells when it takes one).
  struct Key {
    int x;
    int y;
    std::uint8_t zoom;
  };
  std::optional<Key> m_offered;
  unsigned m_view = 0;  // the view that entries asked for since the last BeginView belong to
  QTimer m_timer;
  // Receives the download results in this thread; deleted before the cache.
  std::unique_ptr<QObject> m_receiver;
  std::unique_ptr<TMapTileProviderThread> m_thread;
};
