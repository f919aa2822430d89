#pragma once
// TMapTileProviderThread: the provider's one download worker, alive as long as
// the provider. Each download looks in the disk cache, fetches over the network
// what is missing or stale, decodes the PNG, and hands the image (null when
// there is none) to the completion handler through a queued call into the
// receiver's thread.
//
// One thread for the provider's life, because the web request layer keeps its
// connections per thread: every tile after the first goes over the connection
// (and TLS session) that is already open.
//
// A tile that cannot be fetched but is on disk, stale or not, is still shown:
// without network the map keeps what it has seen. A stale one shown so is
// reported as such, and the provider tries it again as a failed tile. An answer other than a
// 256 x 256 PNG with status 200 is no tile (an error picture, a captive
// portal's page) and never replaces the one on disk.
//
// The provider offers the tile to fetch next while the current one is still
// running, and may replace that offer as long as the worker has not taken it:
// the worker goes from one tile to the next without waiting for the GUI thread,
// and still fetches one at a time in the provider's order.
//
// Destruction cancels a running download and joins the thread. The owner must
// destroy the receiver after this object, so that a result already posted is
// discarded with it.
//
// Thread: created, used and destroyed in the receiver's thread; the work runs
// on its own std::thread and touches only the job it was handed.

#include <QImage>
#include <atomic>
#include <condition_variable>
#include <cstdint>
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

  // The completion runs in receiver's thread after every download.
  TMapTileProviderThread(TTileFetch fetch, std::shared_ptr<TTileDiskCache> diskCache, std::string userAgent,
                         QObject* receiver, TCompletion completion);
  ~TMapTileProviderThread();
  TMapTileProviderThread(const TMapTileProviderThread&) = delete;
  TMapTileProviderThread& operator=(const TMapTileProviderThread&) = delete;

  // Offers the tile to fetch when the worker is free (none: withdraws the
  // offer). Returns the offer it replaces when the worker had not taken it.
  std::optional<TTileJob> OfferNext(std::optional<TTileJob> job);

 private:
  void Run();
  struct TResult {
    QImage image;
    bool stale = false;
  };
  TResult Execute(const TTileJob& job);

  TTileFetch m_fetch;
  std::shared_ptr<TTileDiskCache> m_diskCache;
  std::string m_userAgent;
  QObject* m_receiver;
  TCompletion m_completion;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::optional<TTileJob> m_offer;
  // Set once, when the provider goes: the running fetch gives up, and no
  // further job is taken.
  std::atomic<bool> m_cancelled{false};
  std::thread m_thread;
};
