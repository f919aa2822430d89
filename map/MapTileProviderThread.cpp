#include "MapTileProviderThread.h"

#include <QMetaObject>
#include <QObject>
#include <ctime>
#include <optional>

#include "MapTileProvider.h"
#include "TileDiskCache.h"
#include "TilePng.h"

TMapTileProviderThread::TMapTileProviderThread(TTileFetch fetch, std::shared_ptr<TTileDiskCache> diskCache)
    : m_fetch(std::move(fetch)), m_diskCache(std::move(diskCache)) {}

TMapTileProviderThread::~TMapTileProviderThread() {
  m_cancelled = true;
  if (m_thread.joinable()) m_thread.join();
}

void TMapTileProviderThread::StartDownload(int x, int y, std::uint8_t zoom, const std::string& url, QObject* receiver,
                                   TCompletion completion) {
  m_x = x;
  m_y = y;
  m_zoom = zoom;
  m_url = url;
  m_thread = std::thread([this, receiver, completion = std::move(completion)]() mutable {
    QImage image = Execute();
    if (m_cancelled) return;
    // Queued into the receiver's thread. Our destructor joins before the
    // receiver goes, and a receiver's pending calls die with it.
    QMetaObject::invokeMethod(
        receiver,
        [completion = std::move(completion), x = m_x, y = m_y, zoom = m_zoom, image = std::move(image)]() {
          completion(x, y, zoom, image);
        },
        Qt::QueuedConnection);
  });
}

QImage TMapTileProviderThread::Execute() {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  QImage kept;  // what the disk has, used when the network gives nothing better
  if (m_diskCache) {
    if (std::optional<TCachedTile> cached = m_diskCache->Load(m_zoom, m_x, m_y)) {
      kept = DecodePng(cached->png);
      if (kept.isNull())
        m_diskCache->Drop(m_zoom, m_x, m_y);  // damaged: never shown, fetched anew
      else if (cached->freshUntil > now)
        return kept;
    }
  }
  const TTileFetchResult result = m_fetch(m_url, kMapUserAgent, m_cancelled);
  if (m_cancelled) return {};
  QImage image = result.body.empty() ? QImage() : DecodePng(result.body);
  if (image.isNull()) return kept;
  // Only real tiles are kept: an error page may still carry a picture.
  if (m_diskCache && result.statusCode == 200)
    m_diskCache->Store(m_zoom, m_x, m_y, result.body, TileFreshUntil(result.cacheControl, result.expires, now));
  return image;
}
