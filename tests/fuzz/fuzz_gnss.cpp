// libFuzzer over the GNSS tab: each input is the argument of one ":gnss"
// report for the window's ParseGNSS; the parsed position is also written in
// every location style, and the map (tiles from tile-sim in-process) is
// painted with the resulting marker.
#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FOvMonitor.h"
#include "GnssMonitor.h"
#include "TileServer.h"
#include "map/MyMapBox.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"

namespace {

struct Harness {
  int argc = 1;
  char name[8] = "fuzz";
  char* argv[2] = {name, nullptr};
  QTemporaryDir settings;
  QTemporaryDir cache;
  tilesim::TileServer tiles{tilesim::ServerOptions{}};
  std::unique_ptr<QApplication> application;
  std::unique_ptr<TFOvMonitor> window;
  QImage canvas{369, 197, QImage::Format_RGB32};

  Harness() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!settings.isValid() || !cache.isValid() || !tiles.Start()) std::abort();
    qputenv("ORVANE_SETTINGS_DIR", settings.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    application = std::make_unique<QApplication>(argc, argv);
    TRegIniExtended().WriteString(kEndpointsSection, kMapTilesValue, tiles.BaseUrl());
    window = std::make_unique<TFOvMonitor>();
    window->show();
    window->Form().PageControl1->setCurrentWidget(window->Form().tGNSS);
    settings.remove();
  }
};

Harness& TheHarness() {
  static Harness harness;
  return harness;
}

}  // namespace

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\nleak:libfreetype\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness& harness = TheHarness();
  const std::string text(reinterpret_cast<const char*>(data), size);
  harness.window->ParseGNSS(text);

  const TGnssReport report = ParseGnssReport(text);
  for (TMapLocationStyle style : {mapLoc_None, mapLoc_Decimal, mapLoc_GPS, mapLoc_MinSec}) {
    const std::string location = LocationText(style, report.latitude, report.longitude);
    // Only a place on the map has a text, and it is never longer than its format allows.
    if (!IsValidPosition(report.latitude, report.longitude) && !location.empty()) __builtin_trap();
    if (location.size() > 40) __builtin_trap();
  }

  TMapBox& map = *harness.window->Form().mMap;
  if (map.PointCount() != (report.IsValidFix() ? 1 : 0)) __builtin_trap();
  map.SetLocationStyle(static_cast<TMapLocationStyle>(size % 4));
  map.render(&harness.canvas);
  QApplication::processEvents();
  return 0;
}
