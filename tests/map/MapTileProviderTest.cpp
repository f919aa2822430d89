// The tile provider: cache, eviction, scheduling, retries, and downloads
// against a tile server (tile-sim in-process) with its faults.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <ctime>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "TileFixtures.h"
#include "TileServer.h"
#include "map/MapTileProvider.h"
#include "map/TileDiskCache.h"
#include "map/TilePng.h"

namespace {

const std::string kBase = "http://tiles.test/";

struct ProviderTest : ::testing::Test {
  ManualClock clock;
  ScriptedFetch fetch;
  int loaded = 0;
  std::unique_ptr<TMapTileProvider> provider = Make();

  std::unique_ptr<TMapTileProvider> Make() {
    TMapTileProviderOptions options;
    options.fetch = fetch.Function();
    options.noDiskCache = true;
    auto made = std::make_unique<TMapTileProvider>(kBase, options);
    made->OnTileLoaded = [this] { ++loaded; };
    return made;
  }
  // Waits until the downloads in flight and those they start are done.
  bool Settle() {
    return WaitWithEvents([this] { return !provider->IsDownloading(); });
  }
  static std::string Url(int x, int y, int zoom = 14) { return TMapTileProvider::TileURL(kBase, x, y, static_cast<std::uint8_t>(zoom)); }
};

TEST(TileProviderUrl, BaseUrlRulesAndTileAddress) {
  const struct {
    const char* given;
    const char* used;
  } rows[] = {
      {"https://maps.example/tiles", "https://maps.example/tiles/"},  // slash appended
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/"},          // taken as it is
      {"ftp://maps.example/", kDefaultTileServer},                    // other scheme
      {"HTTP://maps.example/", kDefaultTileServer},                   // the scheme is case-sensitive
      {"", kDefaultTileServer},                                       // empty
  };
  for (const auto& row : rows) EXPECT_EQ(TMapTileProvider::NormalizedBaseURL(row.given), row.used) << row.given;
  EXPECT_EQ(TMapTileProvider::TileURL("http://h/", 9773, 6671, 14), "http://h/14/9773/6671.png");
  EXPECT_EQ(TMapTileProvider::TileURL("http://h/", 0, 0, 5), "http://h/5/0/0.png");
}

TEST_F(ProviderTest, TileAskedTwiceMakesOneEntryAndOneDownload) {
  EXPECT_EQ(provider->GetTile(1, 2, 14, 0), nullptr);
  EXPECT_EQ(provider->GetTile(1, 2, 14, 0), nullptr);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(provider->CacheCount(), 1);
  EXPECT_EQ(fetch.Urls(), std::vector<std::string>{Url(1, 2)});
  const QImage* image = provider->GetTile(1, 2, 14, 0);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size(), QSize(256, 256));
  EXPECT_EQ(image->format(), QImage::Format_RGB32);
  EXPECT_EQ(loaded, 1);
}

TEST_F(ProviderTest, MostUrgentTileIsFetchedFirstAndOneAtATime) {
  // While the first download runs, the others only join the list.
  fetch.Hold(true);
  provider->GetTile(0, 0, 14, 5);
  ASSERT_TRUE(WaitWithEvents([&] { return fetch.Urls().size() == 1; }));
  provider->GetTile(1, 0, 14, 3);
  provider->GetTile(2, 0, 14, 0);
  provider->GetTile(3, 0, 14, 1);
  fetch.Hold(false);
  ASSERT_TRUE(WaitWithEvents([&] { return fetch.Urls().size() == 4; }));
  EXPECT_EQ(fetch.Urls(), (std::vector<std::string>{Url(0, 0), Url(2, 0), Url(3, 0), Url(1, 0)}));
}

// The next tile is handed over while one downloads: when it ends, the worker
// goes on at once, even while the GUI thread is busy and has not yet taken
// the result.
TEST_F(ProviderTest, NextDownloadStartsWithoutTheGuiThread) {
  fetch.Hold(true);
  provider->GetTile(0, 0, 14, 0);
  provider->GetTile(1, 0, 14, 1);
  ASSERT_TRUE(WaitWithEvents([&] { return fetch.Urls().size() == 1; }));
  QCoreApplication::processEvents();
  fetch.Hold(false);
  const QDeadlineTimer deadline(10000);
  while (fetch.Urls().size() < 2 && !deadline.hasExpired()) QThread::msleep(2);
  EXPECT_EQ(fetch.Urls(), (std::vector<std::string>{Url(0, 0), Url(1, 0)}));
  ASSERT_TRUE(Settle());
  EXPECT_NE(provider->GetTile(1, 0, 14, 1), nullptr);
}

TEST_F(ProviderTest, SixtyFifthTileEvictsTheLeastRecentlyLookedUpAndFreesItsImage) {
  const int imagesBefore = LiveDecodedImages();
  for (int x = 0; x < kTileCacheSize; ++x) {
    provider->GetTile(x, 0, 14, 0);
    clock.AdvanceSeconds(1);
  }
  ASSERT_TRUE(WaitWithEvents([&] { return loaded == kTileCacheSize; }));
  EXPECT_EQ(LiveDecodedImages() - imagesBefore, kTileCacheSize);
  // Tile 0 is the oldest entry but was looked at just now; tile 1 was not.
  for (int x = 0; x < kTileCacheSize; ++x) {
    if (x == 1) continue;
    clock.AdvanceSeconds(1);
    ASSERT_NE(provider->GetTile(x, 0, 14, 0), nullptr);
  }
  clock.AdvanceSeconds(1);
  provider->GetTile(100, 0, 14, 0);
  EXPECT_EQ(provider->CacheCount(), kTileCacheSize);
  EXPECT_EQ(LiveDecodedImages() - imagesBefore, kTileCacheSize - 1);
  EXPECT_NE(provider->GetTile(0, 0, 14, 0), nullptr);
  ASSERT_TRUE(Settle());
  // Tile 1 is gone: asking again makes a new entry and a new download.
  EXPECT_EQ(provider->GetTile(1, 0, 14, 0), nullptr);
  ASSERT_TRUE(Settle());
  const auto urls = fetch.Urls();
  EXPECT_EQ(std::count(urls.begin(), urls.end(), Url(1, 0)), 2);
}

TEST_F(ProviderTest, FailedTileWaitsThreeMinutesWithWakeUpsEveryFewSeconds) {
  fetch.Fail(Url(7, 7));
  provider->GetTile(7, 7, 14, 0);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(loaded, 1);  // the owner hears of failures too
  EXPECT_FALSE(provider->AnyTileLoaded());
  // Asked for on every repaint: no new download inside the three minutes.
  for (int second = 0; second < 180; second += 20) {
    EXPECT_EQ(provider->GetTile(7, 7, 14, 0), nullptr);
    provider->WakeUp();
    // Minutes waited, rounded, plus five seconds.
    EXPECT_EQ(provider->WakeUpDelayMs(), (5 + (second + 30) / 60) * 1000) << second;
    clock.AdvanceSeconds(20);
  }
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fetch.Urls().size(), 1u);
  clock.AdvanceSeconds(2);  // now past three minutes
  provider->WakeUp();
  ASSERT_TRUE(WaitWithEvents([&] { return fetch.Urls().size() == 2; }));
  ASSERT_TRUE(Settle());
}

// A drag, zoom or re-centring asks for a new view: its tiles are fetched in
// its own order, those it left are not fetched at all, and a failed tile
// comes back with the priority its view gives it.
TEST_F(ProviderTest, PendingTilesFollowTheView) {
  fetch.Hold(true);
  provider->BeginView();
  provider->GetTile(1, 0, 14, 0);
  ASSERT_TRUE(WaitWithEvents([&] { return fetch.Urls().size() == 1; }));
  provider->GetTile(2, 0, 14, 1);
  provider->GetTile(3, 0, 14, 2);
  provider->BeginView();
  provider->GetTile(5, 0, 14, 1);
  provider->GetTile(3, 0, 14, 0);
  fetch.Hold(false);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fetch.Urls(), (std::vector<std::string>{Url(1, 0), Url(3, 0), Url(5, 0)}));

  fetch.Fail(Url(6, 0));
  provider->BeginView();
  provider->GetTile(6, 0, 14, 2);
  ASSERT_TRUE(Settle());
  clock.AdvanceSeconds(181);
  provider->BeginView();
  provider->GetTile(7, 0, 14, 1);
  provider->GetTile(6, 0, 14, 2);
  ASSERT_TRUE(WaitWithEvents([&] { return fetch.Urls().size() == 6; }));
  ASSERT_TRUE(Settle());
  const auto urls = fetch.Urls();
  EXPECT_EQ(std::vector<std::string>(urls.end() - 2, urls.end()), (std::vector<std::string>{Url(7, 0), Url(6, 0)}));
  // Tile 2 was never asked for again.
  EXPECT_EQ(std::count(urls.begin(), urls.end(), Url(2, 0)), 0);
}

TEST_F(ProviderTest, AnyTileLoadedFollowsTheLoadedTiles) {
  EXPECT_FALSE(provider->AnyTileLoaded());
  provider->GetTile(0, 0, 14, 0);
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(provider->AnyTileLoaded());
  // 64 newer tiles that all fail push the only loaded one out.
  fetch.FailAll(true);
  for (int x = 1; x <= kTileCacheSize; ++x) {
    clock.AdvanceSeconds(1);
    provider->GetTile(x, 5, 14, 0);
  }
  EXPECT_FALSE(provider->AnyTileLoaded());
  ASSERT_TRUE(Settle());
}

// --- against tile-sim ---

struct ProviderOnServerTest : ::testing::Test {
  tilesim::TileServer server{tilesim::ServerOptions{}};
  QTemporaryDir cacheFolder;
  int loaded = 0;

  void SetUp() override { ASSERT_TRUE(server.Start()); }

  std::unique_ptr<TMapTileProvider> Make(bool withDiskCache = false, TTileFetch fetch = {}) {
    TMapTileProviderOptions options;
    options.fetch = std::move(fetch);
    options.noDiskCache = !withDiskCache;
    if (withDiskCache) options.diskCache = std::make_shared<TTileDiskCache>(cacheFolder.path().toStdString());
    auto made = std::make_unique<TMapTileProvider>(server.BaseUrl(), options);
    made->OnTileLoaded = [this] { ++loaded; };
    return made;
  }
  // Asks for the tile and waits for its download to end; its image or nullptr.
  const QImage* Load(TMapTileProvider& provider, int x, int y) {
    const int before = loaded;
    if (const QImage* image = provider.GetTile(x, y, 14, 0)) return image;
    EXPECT_TRUE(WaitWithEvents([&] { return loaded > before; }));
    return provider.GetTile(x, y, 14, 0);
  }
};

TEST_F(ProviderOnServerTest, GoodMissingAndCorruptTiles) {
  server.SetFaults({*tilesim::ParseFaultRule("missing:14/5/*"), *tilesim::ParseFaultRule("corrupt:14/6/6")});
  auto provider = Make();
  const QImage* good = Load(*provider, 4, 6);
  ASSERT_NE(good, nullptr);
  // The tile-sim frame is dark grey; the inside is the tile's tint.
  EXPECT_EQ(good->pixel(0, 0), qRgb(60, 60, 60));
  EXPECT_EQ(server.LastUserAgent(), MapUserAgent());
  EXPECT_EQ(MapUserAgent().rfind("Qel Orvane Monitor/1.", 0), 0u);
  EXPECT_EQ(Load(*provider, 5, 6), nullptr);
  EXPECT_EQ(Load(*provider, 6, 6), nullptr);
  EXPECT_EQ(server.Requests("/14/6/6.png"), 1);
}

TEST_F(ProviderOnServerTest, DestroyedDuringAHangingDownloadGivesItUpWithoutWaitingOutTheLimits) {
  server.SetFaults({*tilesim::ParseFaultRule("hang")});
  // The real fetch with its full limits: only the cancellation can end it early.
  auto provider = Make(false, WebTileFetch());
  provider->GetTile(3, 3, 14, 0);
  ASSERT_TRUE(WaitWithEvents([&] { return server.TotalRequests() == 1; }));
  QElapsedTimer timer;
  timer.start();
  provider.reset();
  EXPECT_LT(timer.elapsed(), kTileStallLimitMs / 2);
  QCoreApplication::processEvents();
  EXPECT_EQ(loaded, 0);
}

TEST_F(ProviderOnServerTest, DiskCacheServesFreshTilesEvenWithoutTheServer) {
  {
    auto provider = Make(true);
    Load(*provider, 1, 1);  // no expiry header: fresh for days
    server.SetMaxAge(0);
    Load(*provider, 2, 2);  // expired as soon as stored
  }
  {
    auto provider = Make(true);
    ASSERT_NE(Load(*provider, 1, 1), nullptr);
    ASSERT_NE(Load(*provider, 2, 2), nullptr);
    EXPECT_EQ(server.Requests("/14/1/1.png"), 1);
    EXPECT_EQ(server.Requests("/14/2/2.png"), 2);
  }
  server.Stop();
  auto provider = Make(true);
  const QImage* image = Load(*provider, 1, 1);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixel(0, 0), qRgb(60, 60, 60));
  EXPECT_EQ(Load(*provider, 1, 2), nullptr);  // never seen
}

TEST_F(ProviderOnServerTest, DamagedCacheFileIsDroppedNotShown) {
  TTileDiskCache disk(cacheFolder.path().toStdString());
  // A whole header but a broken picture, fresh for an hour.
  ASSERT_TRUE(disk.Store(14, 3, 4, tilesim::Corrupted(TilePngBytes(14, 3, 4)), std::time(nullptr) + 3600));
  server.SetFaults({*tilesim::ParseFaultRule("missing")});
  auto provider = Make(true);
  EXPECT_EQ(Load(*provider, 3, 4), nullptr);
  EXPECT_FALSE(disk.Load(14, 3, 4).has_value());
  EXPECT_EQ(server.Requests("/14/3/4.png"), 1);
}

// Resident memory of this process in bytes.
std::int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Servers that never finish, or finish with something that is no tile: each
// is a failed tile, ended within the download's bounds, without holding what
// was sent.
TEST(ProviderOnHostileServer, EndlessHugeTrickleAndWrongSizeAreFailedTiles) {
  tilesim::ServerOptions options;
  options.trickleMs = 300;
  tilesim::TileServer server(options);
  ASSERT_TRUE(server.Start());
  TTileFetchLimits limits;
  limits.deadlineMs = 2000;
  TMapTileProviderOptions providerOptions;
  providerOptions.fetch = WebTileFetch(limits);
  providerOptions.noDiskCache = true;
  TMapTileProvider provider(server.BaseUrl(), providerOptions);
  int loaded = 0;
  provider.OnTileLoaded = [&] { ++loaded; };
  const char* faults[] = {"endless", "huge", "trickle", "wrongsize"};
  int x = 0;
  for (const char* fault : faults) {
    server.SetFaults({*tilesim::ParseFaultRule(fault)});
    const std::int64_t before = ResidentBytes();
    QElapsedTimer timer;
    timer.start();
    const int done = loaded;
    provider.GetTile(++x, 1, 14, 0);
    ASSERT_TRUE(WaitWithEvents([&] { return loaded > done; })) << fault;
    EXPECT_EQ(provider.GetTile(x, 1, 14, 0), nullptr) << fault;
    EXPECT_LT(timer.elapsed(), limits.deadlineMs + 1500) << fault;
    EXPECT_LT(ResidentBytes() - before, 16 * 1024 * 1024) << fault;
  }
  EXPECT_EQ(server.TotalRequests(), 4);
}

// What reaches the screen and the disk: a no-store tile is shown but not
// kept, a far Expires is capped, a tile of another size is neither, and a
// 403 picture never replaces the good (stale) tile on disk, which is shown
// and tried again later.
TEST_F(ProviderOnServerTest, OnlyRealTilesAreShownAndKept) {
  TTileDiskCache disk(cacheFolder.path().toStdString());
  const std::int64_t now = std::time(nullptr);
  const struct {
    const char* fault;
    bool goodOnDisk;  // a stale good tile is there before
    bool shown;
    bool kept;
  } rows[] = {
      {"blocked", true, true, true},
      {"nostore", false, true, false},
      {"farexpires", false, true, true},
      {"wrongsize", false, false, false},
      {"blocked", false, false, false},
  };
  auto provider = Make(true);
  int x = 0;
  for (const auto& row : rows) {
    ++x;
    if (row.goodOnDisk) {
      ASSERT_TRUE(disk.Store(14, x, 9, TilePngBytes(14, x, 9), now - 60));
    }
    server.SetFaults({*tilesim::ParseFaultRule(row.fault)});
    const QImage* image = Load(*provider, x, 9);
    EXPECT_EQ(image != nullptr, row.shown) << row.fault;
    // Tile-sim's frame, never the "blocked" picture's stripes.
    if (image) {
      EXPECT_EQ(image->pixel(0, 0), qRgb(60, 60, 60)) << row.fault;
    }
    const std::optional<TCachedTile> kept = disk.Load(14, x, 9);
    EXPECT_EQ(kept.has_value(), row.kept) << row.fault;
    if (kept) {
      EXPECT_LE(kept->freshUntil, now + 30 * 24 * 3600 + 60) << row.fault;
    }
    if (kept && row.goodOnDisk) {
      EXPECT_EQ(kept->png, TilePngBytes(14, x, 9));
    }
    // The stale tile is shown, and tried again as a failed tile is.
    if (x == 1) {
      EXPECT_GT(provider->WakeUpDelayMs(), 0);
    }
  }
  EXPECT_EQ(server.TotalRequests(), 5);
}

// The download worker lives as long as the provider, so a view over HTTPS
// costs one connection and one handshake.
TEST(ProviderOverHttps, AViewOfTilesUsesOneConnection) {
  QTemporaryDir certificates;
  tilesim::ServerOptions options;
  options.tlsFolder = certificates.path().toStdString();
  tilesim::TileServer server(options);
  ASSERT_TRUE(server.Start()) << server.StartError();
  ASSERT_EQ(server.BaseUrl().rfind("https://", 0), 0u);
  setenv("ORVANE_CA_FILE", server.CertificatePath().c_str(), 1);
  {
    TMapTileProviderOptions providerOptions;
    providerOptions.noDiskCache = true;
    TMapTileProvider provider(server.BaseUrl(), providerOptions);
    int loaded = 0;
    provider.OnTileLoaded = [&] { ++loaded; };
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 2; ++y) provider.GetTile(x, y, 14, x + y);
    ASSERT_TRUE(WaitWithEvents([&] { return loaded == 6; }));
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 2; ++y) EXPECT_NE(provider.GetTile(x, y, 14, 0), nullptr) << x << "," << y;
  }
  unsetenv("ORVANE_CA_FILE");
  EXPECT_EQ(server.TotalRequests(), 6);
  EXPECT_EQ(server.Connections(), 1);
}

}  // namespace
