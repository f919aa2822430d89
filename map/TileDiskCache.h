#pragma once
// TTileDiskCache: downloaded tiles kept on disk, so that a map seen once
// still shows where there is no network, and so that a public tile server is
// not asked again for what we already have.
//
// One file per tile, <folder>/<zoom>/<x>/<y>.tile: a small header with the
// time until which the tile is fresh, then the PNG bytes as they came. Files
// are written under a temporary name and renamed, so a crash never leaves a
// half file under a tile's name; temporary files and empty directories that a
// crash left are removed at the first use. The folder is bounded in size
// (every file and directory under it counts): after a store that takes it
// past the bound, the least recently used tiles (by file modification time,
// which Load refreshes) go first until it is back under 90 % of the bound.
//
// Failure: by result. A file that cannot be read or written is treated as
// absent; a file with a damaged header is deleted.
//
// Thread: any thread; calls are serialised by an internal mutex. Two programs
// sharing the folder only ever see whole files.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

struct TCachedTile {
  std::string png;
  std::int64_t freshUntil = 0;  // Unix seconds
};

class TTileDiskCache {
 public:
  static constexpr std::uint64_t kDefaultMaxBytes = 200ull * 1024 * 1024;

  TTileDiskCache(std::filesystem::path folder, std::uint64_t maxBytes = kDefaultMaxBytes);

  // The cache folder for a tile server: $XDG_CACHE_HOME (default ~/.cache)
  // /Qel/Orvane Monitor/tiles/<hash of the base URL>, so that tiles of two
  // servers never mix. "" when neither XDG_CACHE_HOME nor HOME is set.
  static std::filesystem::path DefaultFolder(const std::string& baseUrl);

  std::optional<TCachedTile> Load(int zoom, int x, int y);
  bool Store(int zoom, int x, int y, const std::string& png, std::int64_t freshUntil);
  void Drop(int zoom, int x, int y);

  // Bytes of tile files in the folder (as last counted plus what was stored since).
  std::uint64_t SizeOnDisk();
  const std::filesystem::path& Folder() const { return m_folder; }

 private:
  std::filesystem::path TilePath(int zoom, int x, int y) const;
  void CountOnce();
  void Trim();

  std::filesystem::path m_folder;
  std::uint64_t m_maxBytes;
  std::mutex m_mutex;
  bool m_counted = false;
  std::uint64_t m_bytes = 0;
};

// When a tile received now stops being fresh, from its "Cache-Control" and
// "Expires" header values: max-age wins, then Expires; no-store, no-cache and
// a past or unreadable Expires give now (fetch again next time); with
// neither, seven days. Never more than 30 days from now.
std::int64_t TileFreshUntil(const std::string& cacheControl, const std::string& expires, std::int64_t nowUnix);
// False for a tile sent with "no-store": it is shown but never written to disk.
bool TileMayBeStored(const std::string& cacheControl);
// Unix seconds of an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"); none when
// the text is not one.
std::optional<std::int64_t> HttpDateToUnix(const std::string& text);
