#include "MapTileProviderThread.h"

#include <QMetaObject>
#include <QObject>
#include <ctime>
#include <utility>

#include "MapTileProvider.h"
#include "TileDiskCache.h"
#include "TilePng.h"

namespace {

// Downloads that wait for the decoder: enough to keep the connection busy
// while one tile is decoded, few enough that a slow decoder holds little.
constexpr std::size_t kMaxWaitingDecodes = 2;

}  // namespace

TMapTileProviderThread::TMapTileProviderThread(TTileFetch fetch, std::shared_ptr<TTileDiskCache> diskCache,
                                               std::string userAgent, QObject* receiver, TCompletion completion,
                                               std::function<void()> taken)
    : m_fetch(std::move(fetch)),
      m_diskCache(std::move(diskCache)),
      m_userAgent(std::move(userAgent)),
      m_receiver(receiver),
      m_completion(std::move(completion)),
      m_taken(std::move(taken)),
      m_downloader([this] { DownloadLoop(); }),
      m_decoder([this] { DecodeLoop(); }) {}

TMapTileProviderThread::~TMapTileProviderThread() {
  {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
  }
  m_wake.notify_all();
  if (m_downloader.joinable()) m_downloader.join();
  if (m_decoder.joinable()) m_decoder.join();
}

std::optional<TTileJob> TMapTileProviderThread::OfferNext(std::optional<TTileJob> job) {
  std::optional<TTileJob> replaced;
  {
    std::lock_guard lock(m_mutex);
    replaced = std::exchange(m_offer, std::move(job));
  }
  m_wake.notify_all();
  return replaced;
}

bool TMapTileProviderThread::HasOffer() {
  std::lock_guard lock(m_mutex);
  return m_offer.has_value();
}

void TMapTileProviderThread::DownloadLoop() {
  for (;;) {
    TTileJob job;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] {
        return m_cancelled || (m_offer.has_value() && m_waiting.size() < kMaxWaitingDecodes);
      });
      if (m_cancelled) return;
      job = std::move(*m_offer);
      m_offer.reset();
    }
    // The provider learns that the slot is free and offers the next tile
    // while this one downloads.
    QMetaObject::invokeMethod(m_receiver, [taken = m_taken] { taken(); }, Qt::QueuedConnection);
    TDownloaded downloaded = Download(std::move(job));
    {
      std::lock_guard lock(m_mutex);
      if (m_cancelled) return;
      m_waiting.push_back(std::move(downloaded));
    }
    m_wake.notify_all();
  }
}

void TMapTileProviderThread::DecodeLoop() {
  for (;;) {
    TDownloaded downloaded;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return m_cancelled || !m_waiting.empty(); });
      if (m_cancelled) return;
      downloaded = std::move(m_waiting.front());
      m_waiting.pop_front();
    }
    m_wake.notify_all();  // room for the downloader
    TResult result = downloaded.decided ? std::move(*downloaded.decided) : Decode(downloaded);
    if (m_cancelled) return;
    // Queued into the receiver's thread. Our destructor joins before the
    // receiver goes, and a receiver's pending calls die with it.
    QMetaObject::invokeMethod(
        m_receiver,
        [completion = m_completion, x = downloaded.job.x, y = downloaded.job.y, zoom = downloaded.job.zoom,
         result = std::move(result)]() { completion(x, y, zoom, result.image, result.stale); },
        Qt::QueuedConnection);
  }
}

TMapTileProviderThread::TDownloaded TMapTileProviderThread::Download(TTileJob job) {
  TDownloaded downloaded;
  downloaded.job = std::move(job);
  const TTileJob& tile = downloaded.job;
  if (m_diskCache) {
    if (std::optional<TCachedTile> cached = m_diskCache->Load(tile.zoom, tile.x, tile.y)) {
      downloaded.kept = DecodeTile(cached->png);
      if (downloaded.kept.isNull()) {
        m_diskCache->Drop(tile.zoom, tile.x, tile.y);  // damaged or no tile: never shown, fetched anew
      } else if (cached->freshUntil > static_cast<std::int64_t>(std::time(nullptr))) {
        downloaded.decided = TResult{std::move(downloaded.kept), false};
        return downloaded;
      }
    }
  }
  downloaded.answer = m_fetch(tile.url, m_userAgent, m_cancelled);
  return downloaded;
}

TMapTileProviderThread::TResult TMapTileProviderThread::Decode(const TDownloaded& downloaded) {
  const TTileFetchResult& answer = downloaded.answer;
  // Only a real tile counts: a public server's "blocked" picture comes with a
  // 403 or 429, and must neither be shown nor push the good tile aside.
  if (!answer.received || answer.statusCode != 200 || answer.body.empty()) return {downloaded.kept, true};
  QImage image = DecodeTile(answer.body);
  if (image.isNull()) return {downloaded.kept, true};
  const TTileJob& tile = downloaded.job;
  if (m_diskCache && TileMayBeStored(answer.cacheControl))
    m_diskCache->Store(tile.zoom, tile.x, tile.y, answer.body,
                       TileFreshUntil(answer.cacheControl, answer.expires, static_cast<std::int64_t>(std::time(nullptr))));
  return {image, false};
}
