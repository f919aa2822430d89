// The map's two hot paths, each beside its bare baseline in the same run:
//   paint   TMapBox painting the GNSS tab's 369 x 197 view from four cached
//           tiles (with border, logo, location text and the cursor), beside a
//           QPainter drawing the same four RGB32 images at the same places;
//   decode  DecodePng of one tile, beside libpng's own decoding of it into a
//           plain buffer;
//   view    a view of 12 tiles over HTTPS from tile-sim (in-process) through
//           a new tile provider, beside one new bare libcurl handle fetching
//           the same 12 on one connection with the same trust (wall time,
//           medians of alternating rounds: most of it is waiting).
// The summary at the end gives each as a ratio of its baseline.
//
//   map_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <png.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "TileArt.h"
#include "TileServer.h"
#include "map/MyMapBox.h"
#include "map/TilePng.h"

namespace {

std::map<std::string, double> g_nsPerIteration;

// CPU time of this thread: on a shared machine wall time mostly measures the neighbours.
double ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

void Record(benchmark::State& state, const char* name, double startNs) {
  g_nsPerIteration[name] = (ThreadCpuNs() - startNs) / static_cast<double>(state.iterations());
}

std::string TileBytes(int zoom, int x, int y) {
  return tilesim::EncodePng(tilesim::DrawTile(zoom, x, y), tilesim::kTileSide, tilesim::kTileSide);
}

// A 369 x 197 map whose centre sits so that the view spans 2 x 2 tiles, all
// loaded before timing starts.
struct LoadedMap {
  TMapBox map{nullptr, Options()};

  static TMapTileProviderOptions Options() {
    TMapTileProviderOptions options;
    options.noDiskCache = true;
    options.fetch = [](const std::string& url, const std::string&, const std::atomic<bool>&) {
      int zoom = 0, x = 0, y = 0;
      std::sscanf(url.c_str() + url.find('/', url.find("://") + 3), "/%d/%d/%d.png", &zoom, &x, &y);
      TTileFetchResult result;
      result.received = true;
      result.statusCode = 200;
      result.body = TileBytes(zoom, x, y);
      return result;
    };
    return options;
  }

  LoadedMap() {
    map.resize(369, 197);
    map.SetShowBorder(true);
    map.SetCursorColor(clLime);
    map.SetLocationStyle(mapLoc_GPS);
    map.SetCenter(LatitudeOfTileY(6671.9, 14), LongitudeOfTileX(9773.9, 14));
    map.SetCursorPoint(true, map.CenterLatitude(), map.CenterLongitude());
    map.show();
    QImage scratch(map.size(), QImage::Format_RGB32);
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
      QPainter painter(&scratch);
      map.Paint(painter);
      painter.end();
      QApplication::processEvents();
      if (!map.TileProvider().IsDownloading() && map.TileProvider().CacheCount() == 4 && TilesLoaded()) break;
    }
  }
  bool TilesLoaded() {
    for (int x : {9773, 9774})
      for (int y : {6671, 6672})
        if (!map.TileProvider().GetTile(x, y, 14, 0)) return false;
    return true;
  }
};

void BM_MapBoxPaint(benchmark::State& state) {
  LoadedMap loaded;
  if (!loaded.TilesLoaded()) {
    state.SkipWithError("tiles did not load");
    return;
  }
  QImage target(369, 197, QImage::Format_RGB32);
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    QPainter painter(&target);
    loaded.map.Paint(painter);
  }
  Record(state, "paint", start);
}

void BM_BareQPainterFourTiles(benchmark::State& state) {
  const QImage tiles[4] = {DecodePng(TileBytes(14, 9773, 6671)), DecodePng(TileBytes(14, 9774, 6671)),
                           DecodePng(TileBytes(14, 9773, 6672)), DecodePng(TileBytes(14, 9774, 6672))};
  // Where the map puts them for this view.
  const int left = static_cast<int>(9773.9 * 256) - 184 - 9773 * 256;
  const int top = static_cast<int>(6671.9 * 256) - 98 - 6671 * 256;
  QImage target(369, 197, QImage::Format_RGB32);
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    QPainter painter(&target);
    painter.drawImage(-left, -top, tiles[0]);
    painter.drawImage(256 - left, -top, tiles[1]);
    painter.drawImage(-left, 256 - top, tiles[2]);
    painter.drawImage(256 - left, 256 - top, tiles[3]);
  }
  Record(state, "paint baseline", start);
}

void BM_DecodePng(benchmark::State& state) {
  const std::string bytes = TileBytes(14, 9773, 6671);
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    QImage image = DecodePng(bytes);
    benchmark::DoNotOptimize(image.constBits());
  }
  Record(state, "decode", start);
}

void BM_BareLibpng(benchmark::State& state) {
  const std::string bytes = TileBytes(14, 9773, 6671);
  std::vector<unsigned char> pixels(256 * 256 * 4);
  const double start = ThreadCpuNs();
  for (auto _ : state) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
    image.format = PNG_FORMAT_BGRA;
    png_image_finish_read(&image, nullptr, pixels.data(), 256 * 4, nullptr);
    benchmark::DoNotOptimize(pixels.data());
  }
  Record(state, "decode baseline", start);
}

double WallNs() {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// tile-sim over HTTPS, made once for both sides of the view benchmark.
struct HttpsTiles {
  QTemporaryDir certificates;
  std::unique_ptr<tilesim::TileServer> server;
  HttpsTiles() {
    tilesim::ServerOptions options;
    options.tlsFolder = certificates.path().toStdString();
    server = std::make_unique<tilesim::TileServer>(options);
    if (!server->Start()) server.reset();
    else setenv("ORVANE_CA_FILE", server->CertificatePath().c_str(), 1);
  }
  static HttpsTiles& Get() {
    static HttpsTiles tiles;
    return tiles;
  }
  // The view: 4 x 3 tiles round 9773/6671 at zoom 14.
  static std::vector<std::pair<int, int>> View() {
    std::vector<std::pair<int, int>> tiles;
    for (int x = 9771; x < 9775; ++x)
      for (int y = 6670; y < 6673; ++y) tiles.emplace_back(x, y);
    return tiles;
  }
};

// One view through a new provider (a map just opened): a new worker, a new
// connection and handshake, the 12 tiles fetched one at a time and each
// decoded while the next one comes.
bool ProviderView(HttpsTiles& https) {
  const auto view = HttpsTiles::View();
  TMapTileProviderOptions options;
  options.noDiskCache = true;
  TMapTileProvider provider(https.server->BaseUrl(), options);
  int loaded = 0;
  provider.OnTileLoaded = [&] { ++loaded; };
  int priority = 0;
  for (const auto& [x, y] : view) provider.GetTile(x, y, 14, priority++);
  while (loaded < static_cast<int>(view.size())) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  for (const auto& [x, y] : view)
    if (!provider.GetTile(x, y, 14, 0)) return false;
  return true;
}

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

CURLcode AddCertificate(CURL*, void* context, void* file) {
  X509_STORE_load_file(SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(context)), static_cast<const char*>(file));
  return CURLE_OK;
}

// The same 12 on one new libcurl handle, one connection, with the same trust
// as the product (the system's certificates plus tile-sim's).
bool BareView(HttpsTiles& https) {
  const std::string certificate = https.server->CertificatePath();
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &AddCertificate);
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, certificate.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBody);
  bool all = true;
  for (const auto& [x, y] : HttpsTiles::View()) {
    std::string body;
    const std::string url = TMapTileProvider::TileURL(https.server->BaseUrl(), x, y, 14);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    all = curl_easy_perform(curl) == CURLE_OK && !body.empty() && all;
  }
  curl_easy_cleanup(curl);
  return all;
}

// Rounds alternate between the two, so that the neighbours' load on a shared
// machine falls on both alike; the medians of the rounds are compared.
void BM_ViewOverHttps(benchmark::State& state) {
  HttpsTiles& https = HttpsTiles::Get();
  if (!https.server) {
    state.SkipWithError("tile-sim did not start");
    return;
  }
  std::vector<double> provider, bare;
  for (auto _ : state) {
    double start = WallNs();
    if (!ProviderView(https)) state.SkipWithError("a tile did not load");
    provider.push_back(WallNs() - start);
    start = WallNs();
    if (!BareView(https)) state.SkipWithError("a tile did not load");
    bare.push_back(WallNs() - start);
  }
  const auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  g_nsPerIteration["view"] = median(provider);
  g_nsPerIteration["view baseline"] = median(bare);
}

BENCHMARK(BM_MapBoxPaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareQPainterFourTiles)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodePng)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareLibpng)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewOverHttps)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(21);

void PrintRatio(const char* name, const char* baseline, double target) {
  if (!g_nsPerIteration.count(name) || !g_nsPerIteration.count(baseline)) return;
  const double ratio = g_nsPerIteration[name] / g_nsPerIteration[baseline];
  // Paint and decode in CPU time of the thread, the view in wall time.
  std::printf("%-7s %9.1f us  baseline %9.1f us  ratio %.2f (target at most %.1f)\n", name,
              g_nsPerIteration[name] / 1000, g_nsPerIteration[baseline] / 1000, ratio, target);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintRatio("paint", "paint baseline", 2.0);
  PrintRatio("decode", "decode baseline", 1.2);
  PrintRatio("view", "view baseline", 1.3);
  return 0;
}
