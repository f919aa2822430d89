#include "MapTileProvider.h"

#include <QObject>
#include <algorithm>
#include <cmath>
#include <limits>

#include "MapTileProviderThread.h"
#include "TilePng.h"
#include "TileDiskCache.h"
#include "support/Clock.h"

// One requested tile. An entry without image is waiting for its first
// download, downloading, or failed (last attempt set).
struct TMapTileProvider::Entry {
  QImage image;
  int x = 0;
  int y = 0;
  std::uint8_t zoom = 0;
  double lastAttempt = 0;  // date-time; 0 = never tried
  double lastUse = 0;
  int priority = 0;
  unsigned view = 0;  // the view that last asked for it
  bool inFlight = false;  // handed to the worker, result not back yet
  // The image is the disk's out-of-date copy: shown, but tried again as a
  // failed tile would be.
  bool stale = false;
};

namespace {

// A failed tile is tried again after three minutes.
constexpr double kRetryAfterDays = 3.0 / 1440.0;
constexpr double kMinutesPerDay = 1440.0;
// The wake-up comes a few seconds after the minutes already waited, so that
// while failed tiles wait the scheduler looks again every 5 to 7 seconds.
constexpr int kWakeUpExtraSeconds = 5;

bool HasScheme(const std::string& url, const char* scheme) { return url.rfind(scheme, 0) == 0; }

}  // namespace

std::string MapUserAgent() { return std::string("Qel Orvane Monitor/") + ORVANE_VERSION_TEXT; }

TMapTileProvider::TMapTileProvider(const std::string& baseUrl, TMapTileProviderOptions options)
    : m_baseUrl(NormalizedBaseURL(baseUrl)), m_options(std::move(options)), m_receiver(std::make_unique<QObject>()) {
  if (!m_options.fetch) m_options.fetch = WebTileFetch();
  if (!m_options.diskCache && !m_options.noDiskCache) {
    std::filesystem::path folder = TTileDiskCache::DefaultFolder(m_baseUrl);
    if (!folder.empty()) m_options.diskCache = std::make_shared<TTileDiskCache>(std::move(folder));
  }
  m_timer.setSingleShot(true);
  QObject::connect(&m_timer, &QTimer::timeout, m_receiver.get(), [this] { WakeUp(); });
}

TMapTileProvider::~TMapTileProvider() {
  m_timer.stop();
  // The worker first (cancelled and joined), then the receiver, whose
  // destruction drops a result that was already posted.
  m_thread.reset();
  m_receiver.reset();
}

std::string TMapTileProvider::NormalizedBaseURL(const std::string& baseUrl) {
  if (!HasScheme(baseUrl, "http://") && !HasScheme(baseUrl, "https://")) return kDefaultTileServer;
  return baseUrl.back() == '/' ? baseUrl : baseUrl + "/";
}

std::string TMapTileProvider::TileURL(const std::string& baseUrl, int x, int y, std::uint8_t zoom) {
  return baseUrl + std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y) + ".png";
}

TMapTileProvider::Entry* TMapTileProvider::Find(int x, int y, std::uint8_t zoom) {
  for (Entry& entry : m_entries)
    if (entry.x == x && entry.y == y && entry.zoom == zoom) return &entry;
  return nullptr;
}

TMapTileProvider::Entry* TMapTileProvider::Lookup(int x, int y, std::uint8_t zoom) {
  for (Entry& entry : m_entries) {
    if (entry.x == x && entry.y == y && entry.zoom == zoom) {
      entry.lastUse = Now();
      return &entry;
    }
  }
  return nullptr;
}

const QImage* TMapTileProvider::GetTile(int x, int y, std::uint8_t zoom, int priority) {
  if (Entry* entry = Lookup(x, y, zoom)) {
    if (entry->image.isNull() || entry->stale) {
      // A waiting tile of a new view, or more urgent now: the next offer may change.
      const bool changed = entry->priority != priority || entry->view != m_view;
      entry->priority = priority;
      entry->view = m_view;
      if (changed) Schedule();
    }
    return entry->image.isNull() ? nullptr : &entry->image;
  }
  Store(x, y, zoom, QImage(), priority);
  Schedule();
  return nullptr;
}

QImage TMapTileProvider::CachedTile(int x, int y, std::uint8_t zoom) const {
  for (const Entry& entry : m_entries)
    if (entry.x == x && entry.y == y && entry.zoom == zoom && !entry.image.isNull()) return entry.image;
  if (!m_options.diskCache) return {};
  const std::optional<TCachedTile> cached = m_options.diskCache->Load(zoom, x, y);
  return cached ? DecodeTile(cached->png) : QImage();
}

void TMapTileProvider::Store(int x, int y, std::uint8_t zoom, QImage image, std::optional<int> priority) {
  Entry* entry = Lookup(x, y, zoom);
  if (entry) {
    entry->image = QImage();
    entry->lastAttempt = Now();
  } else {
    MakeRoom();
    entry = &m_entries.emplace_front();
    entry->lastUse = Now();
    entry->view = m_view;
  }
  entry->x = x;
  entry->y = y;
  entry->zoom = zoom;
  if (priority) entry->priority = *priority;
  entry->image = std::move(image);
  if (!entry->image.isNull()) m_anyTileLoaded = true;
}

// The head holds the newest entry; on equal last use the one nearest the head goes.
void TMapTileProvider::MakeRoom() {
  while (static_cast<int>(m_entries.size()) >= kTileCacheSize) {
    auto oldest = m_entries.begin();
    for (auto entry = std::next(oldest); entry != m_entries.end(); ++entry)
      if (entry->lastUse < oldest->lastUse) oldest = entry;
    m_entries.erase(oldest);
    m_anyTileLoaded = std::any_of(m_entries.begin(), m_entries.end(),
                                  [](const Entry& entry) { return !entry.image.isNull(); });
  }
}

void TMapTileProvider::Schedule() {
  // A taken offer is a download like any other: the slot is free for the next tile.
  if (m_offered && m_thread && !m_thread->HasOffer()) m_offered.reset();
  const double now = Now();
  int wakeUpSeconds = std::numeric_limits<int>::max();
  Entry* offered = m_offered ? Find(m_offered->x, m_offered->y, m_offered->zoom) : nullptr;
  Entry* candidate = nullptr;
  for (Entry& entry : m_entries) {
    // Tiles of an earlier view wait until a view asks for them again; a tile
    // being fetched is no candidate, one only offered still is.
    if ((!entry.image.isNull() && !entry.stale) || entry.view != m_view || (entry.inFlight && &entry != offered))
      continue;
    const double waited = now - entry.lastAttempt;
    if (waited < kRetryAfterDays) {
      // A clock set back makes waited negative; it still waits at most the
      // five seconds, then is looked at again.
      const int delay = static_cast<int>(std::lround(std::max(waited, 0.0) * kMinutesPerDay)) + kWakeUpExtraSeconds;
      wakeUpSeconds = std::min(wakeUpSeconds, delay);
    } else if (!candidate || entry.priority < candidate->priority) {
      candidate = &entry;
    }
  }
  if (wakeUpSeconds != std::numeric_limits<int>::max())
    m_timer.start(wakeUpSeconds * 1000);
  else
    m_timer.stop();
  if (candidate == offered && (candidate || !m_offered)) return;
  if (!m_thread)
    m_thread = std::make_unique<TMapTileProviderThread>(
        m_options.fetch, m_options.diskCache, MapUserAgent(), m_receiver.get(),
        [this](int x, int y, std::uint8_t zoom, QImage image, bool stale) {
          HandleResult(x, y, zoom, std::move(image), stale);
        },
        [this] { Schedule(); });
  std::optional<TTileJob> job;
  if (candidate)
    job = TTileJob{candidate->x, candidate->y, candidate->zoom,
                   TileURL(m_baseUrl, candidate->x, candidate->y, candidate->zoom)};
  // The offer it replaces was not taken: that tile waits again.
  if (const std::optional<TTileJob> replaced = m_thread->OfferNext(std::move(job))) {
    --m_inFlight;
    if (Entry* entry = Find(replaced->x, replaced->y, replaced->zoom)) entry->inFlight = false;
  }
  m_offered.reset();
  if (!candidate) return;
  candidate->inFlight = true;
  ++m_inFlight;
  m_offered = Key{candidate->x, candidate->y, candidate->zoom};
}

void TMapTileProvider::WakeUp() {
  m_timer.stop();
  Schedule();
}

void TMapTileProvider::HandleResult(int x, int y, std::uint8_t zoom, QImage image, bool stale) {
  --m_inFlight;
  if (m_offered && m_offered->x == x && m_offered->y == y && m_offered->zoom == zoom) m_offered.reset();
  if (Entry* entry = Find(x, y, zoom)) entry->inFlight = false;
  // A failed tile keeps the priority its view gave it.
  Store(x, y, zoom, std::move(image), std::nullopt);
  if (Entry* entry = Find(x, y, zoom)) entry->stale = stale && !entry->image.isNull();
  Schedule();
  if (OnTileLoaded) OnTileLoaded();
}
