// The map box: location texts, centring, painting and the mouse.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <tuple>

#include "TileFixtures.h"
#include "map/MyMapBox.h"
#include "map/TileDiskCache.h"

namespace {

TEST(LocationText, StylesPaddingAndHemispheres) {
  const struct {
    TMapLocationStyle style;
    double latitude, longitude;
    const char* text;
  } rows[] = {
      {mapLoc_GPS, -5.5, -75.25, "05\xB0" "30.0000'S / 075\xB0" "15.0000'W"},
      {mapLoc_MinSec, 31.990553, 34.756424, "31\xB0" "59'25\"N / 034\xB0" "45'23\"E"},
      {mapLoc_MinSec, -0.5, 0, "00\xB0" "30'00\"S / 000\xB0" "00'00\"E"},  // zero counts as north and east
      {mapLoc_GPS, 1.05, 179.999, "01\xB0" "3.0000'N / 179\xB0" "59.9400'E"},  // minutes below ten are not padded
      {mapLoc_Decimal, 31.990553, -34.7564241, "31.990553 / -34.756424"},
      {mapLoc_None, 31.990553, 34.756424, ""},
      {mapLoc_Decimal, 91, 0, ""},    // no place on the map
      {mapLoc_GPS, 0, -180.5, ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(LocationText(row.style, row.latitude, row.longitude), row.text) << row.latitude << " " << row.longitude;
}

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Tile coordinates of the view centre, a little off the half so that the
// pixel arithmetic does not sit on a rounding edge.
constexpr double kCenterTileX = 9773.5002;
constexpr double kCenterTileY = 6671.5002;

struct MapBoxTest : ::testing::Test {
  ScriptedFetch fetch;
  std::unique_ptr<TMapBox> map;
  PaintCounter counter;

  MapBoxTest() {
    TMapTileProviderOptions options;
    options.fetch = fetch.Function();
    options.noDiskCache = true;
    map = std::make_unique<TMapBox>(nullptr, options);
    map->resize(369, 197);
    map->SetCenter(LatitudeOfTileY(kCenterTileY, 14), LongitudeOfTileX(kCenterTileX, 14));
    map->show();
    map->installEventFilter(&counter);
  }
  QImage Render() {
    QImage image(map->size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    map->render(&image);
    return image;
  }
  // Paints until every tile of the view has arrived, then once more.
  QImage RenderLoaded() {
    Render();
    EXPECT_TRUE(WaitWithEvents([&] {
      Render();
      return !map->TileProvider().IsDownloading() && map->TileProvider().AnyTileLoaded();
    }));
    return Render();
  }
  int PaintsAfterEvents() {
    QApplication::processEvents();
    return counter.paints;
  }
  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, at, map->mapToGlobal(at), button, buttons, modifiers);
    QApplication::sendEvent(map.get(), &event);
  }
};

TEST_F(MapBoxTest, PaintsTilesInPlaceWithBorderLogoAndCursor) {
  EXPECT_EQ(map->ZoomLevel(), 14);
  map->SetShowBorder(true);
  map->SetCursorColor(clLime);
  map->SetCursorPoint(true, map->CenterLatitude(), map->CenterLongitude());
  const QImage image = RenderLoaded();
  // Three tiles across, one down; the centre's first, then its two equally
  // urgent neighbours in either order (the worker may take the first of them
  // before the second is asked for).
  std::vector<std::string> urls = fetch.Urls();
  ASSERT_EQ(urls.size(), 3u);
  EXPECT_EQ(urls[0], "https://tile.openstreetmap.org/14/9773/6671.png");
  std::sort(urls.begin() + 1, urls.end());
  EXPECT_EQ(urls[1], "https://tile.openstreetmap.org/14/9772/6671.png");
  EXPECT_EQ(urls[2], "https://tile.openstreetmap.org/14/9774/6671.png");
  // Tile 9773 begins at column 56: its frame, then its tint; tile 9772 to the left.
  EXPECT_EQ(image.pixel(56, 50), qRgb(60, 60, 60));
  EXPECT_EQ(image.pixel(60, 50), qRgb(240, 245, 235));
  EXPECT_EQ(image.pixel(50, 50), qRgb(220, 245, 200));
  EXPECT_EQ(image.pixel(0, 100), qRgb(0, 0, 0));      // border
  EXPECT_EQ(image.pixel(368, 196), qRgb(0, 0, 0));
  // The cursor: 6 x 6 from (x - 3, y - 3) at the centre pixel (184, 98).
  EXPECT_EQ(image.pixel(184, 98), qRgb(0, 255, 0));
  EXPECT_EQ(image.pixel(182, 96), qRgb(0, 255, 0));
  EXPECT_EQ(image.pixel(181, 95), qRgb(0, 0, 0));
  EXPECT_EQ(image.pixel(186, 100), qRgb(0, 0, 0));
  EXPECT_NE(image.pixel(187, 98), qRgb(0, 0, 0));
  // The logo sits 4 pixels in from the bottom right corner.
  EXPECT_NE(image.pixel(369 - 4 - 20, 197 - 4 - 9), image.pixel(300, 150));
}

TEST_F(MapBoxTest, NotAvailableUntilATileLoads) {
  fetch.FailAll(true);
  Render();
  ASSERT_TRUE(WaitWithEvents([&] { return !map->TileProvider().IsDownloading(); }));
  const QImage image = Render();
  // White, with the centred message in black.
  EXPECT_EQ(image.pixel(10, 10), qRgb(255, 255, 255));
  int dark = 0;
  for (int x = 100; x < 270; ++x) dark += qGray(image.pixel(x, 98 + 2)) < 128;
  EXPECT_GT(dark, 0);
  EXPECT_FALSE(map->TileProvider().AnyTileLoaded());
}

TEST_F(MapBoxTest, TooSmallShowsOnlyTheMessageAndAsksForNoTiles) {
  map->resize(103, 200);
  const QImage image = Render();
  EXPECT_EQ(map->TileProvider().CacheCount(), 0);
  EXPECT_TRUE(fetch.Urls().empty());
  EXPECT_EQ(image.pixel(1, 1), qRgb(255, 255, 255));
  int dark = 0;
  for (int y = 90; y < 110; ++y)
    for (int x = 0; x < 103; ++x) dark += qGray(image.pixel(x, y)) < 128;
  EXPECT_GT(dark, 0);
}

TEST_F(MapBoxTest, CentringKeepsPointsInsideTheInnerBox) {
  Render();
  const double latitude = map->CenterLatitude();
  const double longitude = map->CenterLongitude();
  // Inside the inner box: the centre stays.
  map->AddPoint(true, latitude + 0.001, longitude + 0.001);
  EXPECT_EQ(map->CenterLatitude(), latitude);
  EXPECT_EQ(map->CenterLongitude(), longitude);
  // Outside: the middle of all points.
  map->AddPoint(true, latitude + 0.5, longitude - 0.4);
  // (Points are kept to seven decimals.)
  EXPECT_NEAR(map->CenterLatitude(), latitude + 0.001 + (0.5 - 0.001) / 2, 1e-7);
  EXPECT_NEAR(map->CenterLongitude(), longitude + 0.001 + (-0.4 - 0.001) / 2, 1e-7);
  // Custom never moves by itself; cursor-only looks at point 0 alone.
  Render();
  const double centred = map->CenterLatitude();
  map->SetMapCenterType(mapCenter_Custom);
  map->AddPoint(true, 10, 10);
  EXPECT_EQ(map->CenterLatitude(), centred);
  map->SetMapCenterType(mapCenter_Cursor);
  EXPECT_NEAR(map->CenterLatitude(), latitude + 0.001, 1e-7);
  map->SetPoint(0, true, 45, 7);
  EXPECT_EQ(map->CenterLatitude(), 45);
  EXPECT_EQ(map->CenterLongitude(), 7);
}

TEST_F(MapBoxTest, SetCenterIgnoresInvalidPositions) {
  const double latitude = map->CenterLatitude();
  for (const auto& [lat, lon] : {std::pair{91.0, 0.0}, {-90.5, 0.0}, {0.0, 180.01}, {std::nan(""), 0.0}}) {
    map->SetCenter(lat, lon);
    EXPECT_EQ(map->CenterLatitude(), latitude);
  }
  map->SetCenter(90, -180);  // the limits themselves are valid
  EXPECT_EQ(map->CenterLatitude(), 90);
  EXPECT_EQ(map->CenterLongitude(), -180);
  Render();  // and paint without tiles beyond the pole
}

// A "valid" fix beyond the poles: the old square goes at once, no text comes.
TEST_F(MapBoxTest, CursorBeyondThePolesLeavesNoStaleMarker) {
  map->SetCursorColor(clLime);
  map->SetLocationStyle(mapLoc_Decimal);
  map->SetCursorPoint(true, map->CenterLatitude(), map->CenterLongitude());
  ASSERT_EQ(RenderLoaded().pixel(184, 98), qRgb(0, 255, 0));
  const QImage withText = Render();
  const int before = PaintsAfterEvents();
  map->SetCursorPoint(true, 95, 20);
  EXPECT_GT(PaintsAfterEvents(), before);
  const QImage image = Render();
  EXPECT_NE(image.pixel(184, 98), qRgb(0, 255, 0));
  // The bottom left corner, where the location text was, is tile again.
  int changed = 0;
  for (int y = 197 - 20; y < 197 - 4; ++y)
    for (int x = 4; x < 120; ++x) changed += image.pixel(x, y) != withText.pixel(x, y);
  EXPECT_GT(changed, 0);
  const QImage plain = Render();
  map->ClearPoints(true);
  EXPECT_EQ(Render(), plain);
}

// The tiles' credit: the default server's own, or the one set beside another
// server, drawn readable in a corner and moved off the cursor.
TEST_F(MapBoxTest, CreditsTheTileServer) {
  const struct {
    const char* url;
    const char* attribution;
    QString credit;
  } rows[] = {
      {"", "", QStringLiteral("\u00A9 OpenStreetMap contributors")},
      {"http://tiles.example/", "", QString()},
      {"http://tiles.example/", "Tiles \xC2\xA9 Example", QStringLiteral("Tiles \u00A9 Example")},
  };
  for (const auto& row : rows) {
    map->SetMapAlternateURL(row.url);
    map->SetMapAttribution(row.attribution);
    const QImage image = RenderLoaded();
    EXPECT_EQ(map->TileCredit(), row.credit) << row.url;
    const QRect area = map->TileCreditRect();
    EXPECT_EQ(area.isEmpty(), row.credit.isEmpty()) << row.url;
    if (area.isEmpty()) continue;
    EXPECT_TRUE(map->rect().contains(area)) << row.url;
    // Dark text on its light band, near the right edge.
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) dark += qGray(image.pixel(x, y)) < 100;
    EXPECT_GT(dark, 20) << row.url;
    EXPECT_GE(area.right(), 369 - 10) << row.url;
  }
  // A cursor where the credit sits sends the credit to the top corner.
  const QRect bottom = map->TileCreditRect();
  map->SetMapCenterType(mapCenter_Custom);
  map->SetCursorPoint(true, map->LatitudeOfRow(bottom.center().y()), map->LongitudeOfColumn(bottom.center().x()));
  Render();
  EXPECT_EQ(map->TileCreditRect().top(), 4);
}

TEST_F(MapBoxTest, SameCursorPointDoesNotRepaint) {
  map->SetCursorPoint(true, map->CenterLatitude(), map->CenterLongitude());
  const int before = PaintsAfterEvents();
  map->SetCursorPoint(true, map->CenterLatitude(), map->CenterLongitude());
  EXPECT_EQ(PaintsAfterEvents(), before);
  EXPECT_EQ(map->PointCount(), 1);
  map->SetCursorPoint(true, map->CenterLatitude() + 0.0001, map->CenterLongitude());
  EXPECT_GT(PaintsAfterEvents(), before);
  // Points kept as text with seven decimals: reading back gives that precision.
  double latitude, longitude;
  map->GetPoint(0, latitude, longitude);
  EXPECT_NEAR(latitude, map->CenterLatitude() + 0.0001, 1e-7);
  map->GetPoint(5, latitude, longitude);
  EXPECT_EQ(latitude, 0);
  EXPECT_FALSE(map->SetPoint(3, true, 1, 1));
}

TEST_F(MapBoxTest, DragsOnlyWithTheLeftButtonAlone) {
  Render();
  const double longitude = map->CenterLongitude();
  double reported = 0;
  map->OnMouseMove = [&](TMapBox&, Qt::KeyboardModifiers, Qt::MouseButtons, double, double lon) { reported = lon; };
  const struct {
    Qt::MouseButton button;
    Qt::KeyboardModifiers modifiers;
    bool moves;
  } rows[] = {
      {Qt::RightButton, Qt::NoModifier, false},
      {Qt::LeftButton, Qt::ControlModifier, false},
      {Qt::LeftButton, Qt::NoModifier, true},
  };
  for (const auto& row : rows) {
    const double before = map->CenterLongitude();
    Mouse(QEvent::MouseButtonPress, {200, 100}, row.button, row.button, row.modifiers);
    Mouse(QEvent::MouseMove, {180, 100}, Qt::NoButton, row.button, row.modifiers);
    EXPECT_EQ(map->Dragging(), row.moves);
    Mouse(QEvent::MouseButtonRelease, {180, 100}, row.button, Qt::NoButton, row.modifiers);
    EXPECT_FALSE(map->Dragging());
    // Dragged 20 pixels to the left: the centre moves 20 pixels east.
    if (row.moves)
      EXPECT_NEAR(map->CenterLongitude() - before, 20 * 360.0 / (256 << 14), 1e-9);
    else
      EXPECT_EQ(map->CenterLongitude(), before);
  }
  EXPECT_GT(map->CenterLongitude(), longitude);
  // The mouse reports where it is: the centre column reads the centre.
  Mouse(QEvent::MouseMove, {184, 98}, Qt::NoButton, Qt::NoButton);
  EXPECT_NEAR(reported, map->CenterLongitude(), 360.0 / (256 << 14));
  // With Draggable off the left button only reports.
  map->SetDraggable(false);
  const double before = map->CenterLongitude();
  Mouse(QEvent::MouseButtonPress, {200, 100}, Qt::LeftButton, Qt::LeftButton);
  Mouse(QEvent::MouseMove, {150, 100}, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(map->CenterLongitude(), before);
}

TEST_F(MapBoxTest, AlternateUrlChoosesTheServerAndOtherValuesTheDefault) {
  const struct {
    const char* url;
    const char* base;
  } rows[] = {
      {"http://127.0.0.1:8/tiles", "http://127.0.0.1:8/tiles/"},
      {"ftp://elsewhere/", kDefaultTileServer},
      {"https://127.0.0.1:9/", "https://127.0.0.1:9/"},
      {"", kDefaultTileServer},
  };
  map->SetTileOptions({fetch.Function(), nullptr, true});
  for (const auto& row : rows) {
    map->SetMapAlternateURL(row.url);
    EXPECT_EQ(map->MapAlternateURL(), row.url);
    EXPECT_EQ(map->TileProvider().BaseURL(), row.base) << row.url;
  }
}

// A double click is press, release, double click, release: one click, one
// double click and two presses, and only the left button clicks.
TEST_F(MapBoxTest, DoubleClickReportsOneClickAndBothPresses) {
  Render();
  for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
    int clicks = 0, doubleClicks = 0, presses = 0;
    map->OnClick = [&](TMapBox&, double, double) { ++clicks; };
    map->OnDblClick = [&](TMapBox&, double, double) { ++doubleClicks; };
    map->OnMouseDown = [&](TMapBox&, Qt::MouseButton, Qt::KeyboardModifiers, Qt::MouseButtons, double, double) {
      ++presses;
    };
    Mouse(QEvent::MouseButtonPress, {100, 100}, button, button);
    Mouse(QEvent::MouseButtonRelease, {100, 100}, button, Qt::NoButton);
    Mouse(QEvent::MouseButtonDblClick, {100, 100}, button, button);
    Mouse(QEvent::MouseButtonRelease, {100, 100}, button, Qt::NoButton);
    const bool left = button == Qt::LeftButton;
    EXPECT_EQ(std::tuple(clicks, doubleClicks, presses), std::tuple(left ? 1 : 0, left ? 1 : 0, 2)) << button;
  }
}

}  // namespace

namespace {

// The report's picture: drawn from the tiles the provider has in memory or on
// disk, never by asking the server.
TEST_F(MapBoxTest, PictureAroundAPositionUsesOnlyTilesAlreadyHere) {
  const double latitude = map->CenterLatitude(), longitude = map->CenterLongitude();
  map->SetCursorColor(clLime);
  // From memory: the same pixels as the map shows there.
  const QImage shown = RenderLoaded();
  const std::size_t asked = fetch.Urls().size();
  const QImage fromMemory = map->PaintAround(latitude, longitude, map->size());
  EXPECT_TRUE(map->LastPictureHasTiles());
  for (const QPoint at : {QPoint(60, 50), QPoint(50, 50), QPoint(300, 20)})
    EXPECT_EQ(fromMemory.pixel(at), shown.pixel(at)) << at.x() << "," << at.y();
  EXPECT_EQ(fromMemory.pixel(184, 98), qRgb(0, 255, 0));  // the position's square

  // Far away, where no tile was ever loaded: white with the message, and no download.
  const QImage nowhere = map->PaintAround(-40.0, 170.0, QSize(200, 120));
  EXPECT_FALSE(map->LastPictureHasTiles());
  EXPECT_EQ(nowhere.pixel(5, 5), qRgb(255, 255, 255));
  EXPECT_EQ(fetch.Urls().size(), asked);
  EXPECT_FALSE(map->TileProvider().IsDownloading());

  // From disk: a new map whose provider has only the disk cache filled.
  QTemporaryDir cacheFolder;
  auto diskCache = std::make_shared<TTileDiskCache>(cacheFolder.path().toStdString());
  ASSERT_TRUE(diskCache->Store(14, 9773, 6671, TilePngBytes(14, 9773, 6671), 0));  // stale still serves
  TMapTileProviderOptions options;
  options.fetch = fetch.Function();
  options.diskCache = diskCache;
  TMapBox offline(nullptr, options);
  const QImage fromDisk = offline.PaintAround(latitude, longitude, map->size());
  EXPECT_TRUE(offline.LastPictureHasTiles());
  EXPECT_EQ(fromDisk.pixel(60, 50), shown.pixel(60, 50));
  EXPECT_EQ(fromDisk.pixel(50, 50), qRgb(255, 255, 255));  // tile 9772 is not on disk
  EXPECT_EQ(fetch.Urls().size(), asked);
}

}  // namespace
