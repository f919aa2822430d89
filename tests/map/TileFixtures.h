#pragma once
// Shared pieces of the map tests: a scripted tile fetch that counts its
// calls, a movable clock, PNG bytes of a generated tile, and a wait that runs
// the event loop (download results arrive through it).

#include <QImage>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "../serial/TestWait.h"
#include "TileArt.h"
#include "map/TileFetch.h"
#include "support/Clock.h"

inline std::string TilePngBytes(int zoom = 14, int x = 1, int y = 2) {
  return tilesim::EncodePng(tilesim::DrawTile(zoom, x, y), tilesim::kTileSide, tilesim::kTileSide);
}

// Answers every URL ".../<z>/<x>/<y>.png" with that tile as tile-sim draws it,
// except those listed as failing (an empty answer, as from an unreachable
// server). Thread-safe.
class ScriptedFetch {
 public:
  TTileFetch Function() {
    return [this](const std::string& url, const std::string&, const std::atomic<bool>& cancelled) {
      std::unique_lock lock(m_mutex);
      m_urls.push_back(url);
      while (m_held && !cancelled) m_released.wait_for(lock, std::chrono::milliseconds(10));
      TTileFetchResult result;
      if (m_failing.count(url) || m_failAll) return result;
      result.received = true;
      result.statusCode = 200;
      int zoom = 0, x = 0, y = 0;
      const std::size_t slash = url.find('/', url.find("://") + 3);
      std::sscanf(url.c_str() + slash, "/%d/%d/%d.png", &zoom, &x, &y);
      result.body = TilePngBytes(zoom, x, y);
      return result;
    };
  }
  void Fail(const std::string& url) {
    std::lock_guard lock(m_mutex);
    m_failing.insert(url);
  }
  // While held, a fetch waits (its URL already counted) until let go.
  void Hold(bool held) {
    {
      std::lock_guard lock(m_mutex);
      m_held = held;
    }
    m_released.notify_all();
  }
  void FailAll(bool fail) {
    std::lock_guard lock(m_mutex);
    m_failAll = fail;
  }
  std::vector<std::string> Urls() {
    std::lock_guard lock(m_mutex);
    return m_urls;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_urls;
  std::set<std::string> m_failing;
  bool m_failAll = false;
  bool m_held = false;
  std::condition_variable m_released;
};

// Now() stands still until moved; the real clock comes back at the end.
class ManualClock {
 public:
  ManualClock() {
    SetNowOverride([this] { return m_now.load(); });
  }
  ~ManualClock() { SetNowOverride({}); }
  void AdvanceSeconds(double seconds) { m_now = m_now.load() + seconds / 86400.0; }

 private:
  std::atomic<double> m_now{46000.5};
};
