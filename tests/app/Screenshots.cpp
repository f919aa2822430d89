// Development aid, not a test: grabs the main window with each visible tab
// selected into PNG files, to check the layout for clipped captions.
//   window_screenshots <output folder> [open [bridges | gnss | cloud]]
// With "open", the selected port is opened first and the gateway given a few
// seconds to report, so the displays show values. With "bridges" as well,
// "Monitor bridges" is ticked and the grid given time to fill (up to 15 s for
// a bridge with its version, then a few seconds more for the others). With
// "gnss" instead, "Monitor GNSS" is ticked and the map given time for a valid
// fix and its tiles. With "cloud" instead, the gateway is registered to the selected account and its
// cloud record read ("Register GW", then "Read" and its display 1500 ms later).
// Runs on whatever platform QT_QPA_PLATFORM names (offscreen or xcb).
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <cstdio>
#include <exception>

#include "FOvMonitor.h"
#include "map/MyMapBox.h"
#include "ui_uOrvaneMonitor.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  QDir().mkpath(folder);
  TFOvMonitor window;
  window.show();
  QTest::qWait(200);
  if (argc > 2 && QByteArray(argv[2]) == "open") {
    try {
      window.Form().bOpen->click();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "open failed: %s\n", error.what());
      return 1;
    }
    QTest::qWait(4000);
    if (argc > 3 && QByteArray(argv[3]) == "bridges") {
      window.Form().cShow_BRG->click();
      QTableWidget* grid = window.Form().sBridges;
      const bool versionShown = QTest::qWaitFor(
          [grid] {
            for (int row = 0; row < grid->rowCount(); ++row)
              if (grid->item(row, 1) && !grid->item(row, 1)->text().isEmpty()) return true;
            return false;
          },
          15000);
      if (!versionShown) std::fprintf(stderr, "no bridge reported its version\n");
      QTest::qWait(3000);
    }
    if (argc > 3 && QByteArray(argv[3]) == "gnss") {
      window.Form().PageControl1->setCurrentWidget(window.Form().tGNSS);
      window.Form().cShow_GNSS->click();
      if (!QTest::qWaitFor([&] { return window.Form().mMap->PointCount() == 1; }, 20000))
        std::fprintf(stderr, "no valid fix reported\n");
      // The tiles of the view, nearest to the centre first.
      QTest::qWait(3000);
    }
    if (argc > 3 && QByteArray(argv[3]) == "cloud") {
      window.Form().bCloud_RegisterGW->click();
      window.Form().bCloud_GetGW1->click();
      if (!QTest::qWaitFor([&window] { return !window.tAutoDisplayGWInfo.isActive() && window.CloudIdle(); }, 10000))
        std::fprintf(stderr, "the cloud record was not displayed\n");
      QTest::qWait(200);
    }
  }
  QTabWidget* tabs = window.Form().PageControl1;
  for (int i = 0; i < tabs->count(); ++i) {
    if (!tabs->isTabVisible(i)) continue;
    tabs->setCurrentIndex(i);
    QTest::qWait(100);
    const QString file = QStringLiteral("%1/tab%2-%3.png").arg(folder).arg(i).arg(tabs->widget(i)->objectName());
    if (!window.grab().save(file)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
    std::printf("%s\n", qPrintable(file));
  }
  return 0;
}
