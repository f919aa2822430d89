// The "GNSS" tab, with tiles from tile-sim.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>
#include <tuple>

#include "GnssMonitor.h"
#include "TileServer.h"
#include "WindowFixture.h"
#include "map/MyMapBox.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

namespace {

// A window whose map takes its tiles from tile-sim and keeps them in a
// private cache folder.
struct GnssTabTest : ::testing::Test {
  QTemporaryDir cacheFolder;
  const QByteArray userCache = qgetenv("XDG_CACHE_HOME");
  tilesim::TileServer tiles{tilesim::ServerOptions{}};
  std::unique_ptr<TFOvMonitor> window;

  GnssTabTest() {
    qputenv("XDG_CACHE_HOME", cacheFolder.path().toLocal8Bit());
    EXPECT_TRUE(tiles.Start());
    TRegIniExtended().WriteString(kEndpointsSection, kMapTilesValue, tiles.BaseUrl());
  }
  ~GnssTabTest() override {
    window.reset();
    TRegIniExtended().DeleteKey(kEndpointsSection, kMapTilesValue);
    qputenv("XDG_CACHE_HOME", userCache);
  }
  void Open() { window = std::make_unique<TFOvMonitor>(); }

  // What the tab shows, in one line for the failure message.
  struct Shown {
    std::string time, satellites, validity;
    bool lit;
    int points;
    double latitude, longitude;
    auto Tie() const { return std::tie(time, satellites, validity, lit, points, latitude, longitude); }
  };
  Shown Read() {
    Ui::uOrvaneMonitor& ui = window->Form();
    Shown shown{ui.vGNSS_Date->Caption(), ui.vGNSS_Sat->Caption(), ui.lGNSS_Valid->Caption(),
                ui.lGNSS_Valid->LedOn(), ui.mMap->PointCount(), 0, 0};
    ui.mMap->GetPoint(0, shown.latitude, shown.longitude);
    return shown;
  }
};

TEST_F(GnssTabTest, ReportsShowOnTheDisplaysAndTheMap) {
  Open();
  const struct {
    const char* line;
    Shown shown;
  } rows[] = {
      // A valid fix: the time as received, the count, a lit lamp, the marker.
      {":gnss 12:34:56 01/02/2024, 10.5000N, 20.2500E, 7 x valid",
       {"12:34:56 01/02/2024", "7", "valid", true, 1, 10.5, 20.25}},
      // South and west; and a second valid report leaves one point, the new one.
      {":gnss 12:34:57 01/02/2024, 10.5000S, 20.2500W, 8 x valid",
       {"12:34:57 01/02/2024", "8", "valid", true, 1, -10.5, -20.25}},
      // Anything else is shown as the caption, with the lamp off and no marker.
      {":gnss 12:34:58 01/02/2024, 0.00000N, 0.00000E, 0 99.9 no fix",
       {"12:34:58 01/02/2024", "0", "no fix", false, 0, 0, 0}},
      {":gnss 12:34:59 01/02/2024, 10.5000N, 20.2500E, 7 x Valid", {"12:34:59 01/02/2024", "7", "Valid", false, 0, 0, 0}},
      // A number that does not read is 0; other hemisphere letters stay positive.
      {":gnss \t13:00:00\t, 12.5N\r , 9.75Q, 5 1.0 valid", {"13:00:00", "5", "valid", true, 1, 12.5, 9.75}},
      {":gnss 13:00:01, northN, 9.75E, 5 1.0 valid", {"13:00:01", "5", "valid", true, 1, 0, 9.75}},
      // Every field empty, and a line that ends early.
      {":gnss , , , ", {"", "", "", false, 0, 0, 0}},
      {":gnss 13:00:02", {"13:00:02", "", "", false, 0, 0, 0}},
  };
  for (const auto& row : rows) {
    window->HandleLine(row.line);
    EXPECT_EQ(Read().Tie(), row.shown.Tie()) << row.line;
  }
  // The lamp keeps its lime.
  EXPECT_EQ(window->Form().lGNSS_Valid->ColorOn(), clLime);
}

TEST_F(GnssTabTest, MapIsSetUpAndTheResetEmptiesTheTab) {
  Open();
  Ui::uOrvaneMonitor& ui = window->Form();
  TMapBox& map = *ui.mMap;
  EXPECT_EQ(map.size(), QSize(369, 197));
  EXPECT_EQ(map.CursorColor(), clLime);
  EXPECT_TRUE(map.ShowBorder());
  EXPECT_EQ(map.MapCenterType(), mapCenter_AllPoints);
  EXPECT_EQ(map.TileProvider().BaseURL(), tiles.BaseUrl());
  window->HandleLine(":gnss 12:34:56 01/02/2024, 10.5000N, 20.2500E, 7 x valid");
  ui.cShow_GNSS->setChecked(true);
  window->ResetGatewayState();
  EXPECT_EQ(Read().Tie(), (Shown{"", "", "", false, 0, 0, 0}.Tie()));
  EXPECT_FALSE(ui.cShow_GNSS->isChecked());
}

#ifdef GATEWAY_SIM
// Ticking "Monitor GNSS" makes the simulated gateway report: first without
// time, then without a fix, then a valid fix that puts the marker near its
// position and the map, filled with tiles from tile-sim, around it.
TEST_F(GnssTabTest, SimulatedGatewayFixReachesTheMap) {
  SimulatedGateway simulator({"--bridges", "0", "--seed", "3", "--gnss-fix-ms", "2500", "--position", "38.70710,-9.13550"});
  ASSERT_TRUE(simulator.Started());
  Open();
  Ui::uOrvaneMonitor& ui = window->Form();
  window->show();
  ui.PageControl1->setCurrentWidget(ui.tGNSS);
  OpenCom1(*window);
  ui.cShow_GNSS->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Read().validity == "no fix"; }, 10000));
  EXPECT_EQ(ui.mMap->PointCount(), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Read().lit; }, 15000));
  const Shown shown = Read();
  EXPECT_EQ(shown.validity, "valid");
  EXPECT_EQ(shown.points, 1);
  EXPECT_NEAR(shown.latitude, 38.70710, 0.01);
  EXPECT_NEAR(shown.longitude, -9.13550, 0.01);
  EXPECT_NEAR(ui.mMap->CenterLatitude(), 38.70710, 0.01);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ui.mMap->TileProvider().AnyTileLoaded(); }, 10000));
  EXPECT_GT(tiles.TotalRequests(), 0);
  window->close();
}
#endif

}  // namespace
