#pragma once
// TMapTileProviderThread: the provider's download worker, alive as long as the
// provider. Each download looks in the disk cache, fetches over the network
// what is missing or stale, decodes the PNG, and hands the image (null when
// there is none) to the completion handler through a queued call into the
// receiver's thread.
//
// One download thread for the provider's life, because the web request layer
// keeps its connections per thread: every tile after the first goes over the
// connection (and TLS session) that is already open. Decoding and storing run
// on a second thread, so the next download starts while the last tile is
// decoded; results still arrive in download order.
//
// A tile that cannot be fetched but is on disk, stale or not, is still shown:
// without network the map keeps what it has seen. A stale one shown so is
// reported as such, and the provider tries it again as a failed tile. An answer other than a
// 256 x 256 PNG with status 200 is no tile (an error picture, a captive
// portal's page) and never replaces the one on disk.
//
// The provider offers the tile to fetch next, and may replace that offer as
// long as the worker has not taken it. Each take is told to the receiver's
// thread (the `taken` handler), so that the provider offers the following
// tile while this one downloads: the worker goes from one tile to the next
// without waiting for the GUI thread, and still fetches one at a time in the
// provider's order.
//
// Destruction cancels a running download and joins both threads. The owner
// must destroy the receiver after this object, so that a result already
// posted is discarded with it.
//
// Thread: created, used and destroyed in the receiver's thread; the work runs
// on its own std::threads and touches only the jobs it was handed.

#include <QImage>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "TileFetch.h"

class QObject;
class TTileDiskCache;

struct TTileJob {
  int x = 0;
  int y = 0;
  std::uint8_t zoom = 0;
  std::string url;
};

class TMapTileProviderThread {
 public:
  // stale: the image is the disk's out-of-date copy, shown because the
  // server gave nothing better; the tile counts as failed and is tried again.
  using TCompletion = std::function<void(int x, int y, std::uint8_t zoom, QImage image, bool stale)>;

  // The completion runs in receiver's thread after every download, `taken`
  // each time the worker took the offered tile.
  TMapTileProviderThread(TTileFetch fetch, std::shared_ptr<TTileDiskCache> diskCache, std::string userAgent,
                         QObject* receiver, TCompletion completion, std::function<void()> taken);
  ~TMapTileProviderThread();
  TMapTileProviderThread(const TMapTileProviderThread&) = delete;
  TMapTileProviderThread& operator=(const TMapTileProviderThread&) = delete;

  // Offers the tile to fetch when the worker is free (none: withdraws the
  // offer). Returns the offer it replaces when the worker had not taken it.
  std::optional<TTileJob> OfferNext(std::optional<TTileJob> job);
  // An offer is waiting (false once the worker took it).
  bool HasOffer();

 private:
  struct TResult {
    QImage image;
    bool stale = false;
  };
  // A download on its way to the decoder.
  struct TDownloaded {
    TTileJob job;
    std::optional<TResult> decided;  // a fresh disk tile: nothing left to do
    QImage kept;                     // the disk's stale copy, shown when the answer is no tile
    TTileFetchResult answer;
  };
  void DownloadLoop();
  void DecodeLoop();
  TDownloaded Download(TTileJob job);
  TResult Decode(const TDownloaded& downloaded);

  TTileFetch m_fetch;
  std::shared_ptr<TTileDiskCache> m_diskCache;
  std::string m_userAgent;
  QObject* m_receiver;
  TCompletion m_completion;
  std::function<void()> m_taken;
  std::mutex m_mutex;
  // Both threads wait on it: the downloader for an offer and room among the
  // waiting decodes, the decoder for a download.
  std::condition_variable m_wake;
  std::optional<TTileJob> m_offer;
  std::deque<TDownloaded> m_waiting;
  // Set once, when the provider goes: the running fetch gives up, and no
  // further job is taken.
  std::atomic<bool> m_cancelled{false};
  std::thread m_downloader;
  std::thread m_decoder;
};
