#include "MapTileProviderThread.h"

#include <QMetaObject>
#include <QObject>
#include <ctime>
#include <utility>

#include "MapTileProvider.h"
#include "TileDiskCache.h"
#include "TilePng.h"

TMapTileProviderThread::TMapTileProviderThread(TTileFetch fetch, std::shared_ptr<TTileDiskCache> diskCache,
                                               std::string userAgent, QObject* receiver, TCompletion completion)
    : m_fetch(std::move(fetch)),
      m_diskCache(std::move(diskCache)),
      m_userAgent(std::move(userAgent)),
      m_receiver(receiver),
      m_completion(std::move(completion)),
      m_thread([this] { Run(); }) {}

TMapTileProviderThread::~TMapTileProviderThread() {
  {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
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

void TMapTileProviderThread::Run() {
  for (;;) {
    TTileJob job;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return m_cancelled || m_offer.has_value(); });
      if (m_cancelled) return;
      job = std::move(*m_offer);
      m_offer.reset();
    }
    TResult result = Execute(job);
    if (m_cancelled) return;
    // Queued into the receiver's thread. Our destructor joins before the
    // receiver goes, and a receiver's pending calls die with it.
    QMetaObject::invokeMethod(
        m_receiver,
        [completion = m_completion, x = job.x, y = job.y, zoom = job.zoom, result = std::move(result)]() {
          completion(x, y, zoom, result.image, result.stale);
        },
        Qt::QueuedConnection);
  }
}

TMapTileProviderThread::TResult TMapTileProviderThread::Execute(const TTileJob& job) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  QImage kept;  // what the disk has, used when the network gives nothing better
  if (m_diskCache) {
    if (std::optional<TCachedTile> cached = m_diskCache->Load(job.zoom, job.x, job.y)) {
      kept = DecodeTile(cached->png);
      if (kept.isNull())
        m_diskCache->Drop(job.zoom, job.x, job.y);  // damaged or no tile: never shown, fetched anew
      else if (cached->freshUntil > now)
        return {kept, false};
    }
  }
  const TTileFetchResult result = m_fetch(job.url, m_userAgent, m_cancelled);
  if (m_cancelled) return {};
  // Only a real tile counts: a public server's "blocked" picture comes with a
  // 403 or 429, and must neither be shown nor push the good tile aside.
  if (!result.received || result.statusCode != 200 || result.body.empty()) return {kept, true};
  QImage image = DecodeTile(result.body);
  if (image.isNull()) return {kept, true};
  if (m_diskCache && TileMayBeStored(result.cacheControl))
    m_diskCache->Store(job.zoom, job.x, job.y, result.body, TileFreshUntil(result.cacheControl, result.expires, now));
  return {image, false};
}
