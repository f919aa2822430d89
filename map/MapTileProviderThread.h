#pragma once
// TMapTileProviderThread: one tile download. Looks in the disk cache, fetches over
// the network what is missing or stale, decodes the PNG, and hands the image
// (null when there is none) to the completion handler through a queued call
// into the receiver's thread.
//
// A tile that cannot be fetched but is on disk, stale or not, is still shown:
// without network the map keeps what it has seen.
//
// Destruction cancels the download and joins the thread. The owner must
// destroy the receiver after this object, so that a result already posted is
// discarded with it.
//
// Thread: created, started and destroyed in the receiver's thread; the work
// runs on its own std::thread and touches only its own fields.

#include <QImage>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "TileFetch.h"

class QObject;
class TTileDiskCache;

class TMapTileProviderThread {
 public:
  using TCompletion = std::function<void(int x, int y, std::uint8_t zoom, QImage image)>;

  TMapTileProviderThread(TTileFetch fetch, std::shared_ptr<TTileDiskCache> diskCache);
  ~TMapTileProviderThread();
  TMapTileProviderThread(const TMapTileProviderThread&) = delete;
  TMapTileProviderThread& operator=(const TMapTileProviderThread&) = delete;

  // Starts the download; completion runs in receiver's thread.
  void StartDownload(int x, int y, std::uint8_t zoom, const std::string& url, QObject* receiver, TCompletion completion);

 private:
  QImage Execute();

  TTileFetch m_fetch;
  std::shared_ptr<TTileDiskCache> m_diskCache;
  int m_x = 0;
  int m_y = 0;
  std::uint8_t m_zoom = 0;
  std::string m_url;
  std::atomic<bool> m_cancelled{false};
  std::thread m_thread;
};
