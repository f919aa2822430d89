// The "Bridges" tab inside the window: reports reaching the grid through the
// port and the dispatcher, the tab's controls bound to their handlers, and the
// reset that forgets the bridges of the previous connection.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "FOvMonitor.h"
#include "WindowFixture.h"
#include "db/MySQLite.h"
#include "ui_uOrvaneMonitor.h"

namespace {

// An information frame (type 2, API 7) of bridge A1B2C3D4E5F6 with firmware
// 1.2.3: the ID sits at offset 12, offsets 6..11 carry something else.
const std::string kInformationFrame =
    "0000EE020700"
    "112233445566"
    "A1B2C3D4E5F6"
    "010203"
    "000000000000";
const std::string kBridge = "A1B2C3D4E5F6";

std::string Cell(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item ? item->text().toStdString() : std::string();
}

int StoredBridges(TFOvMonitor& window) {
  TSQLiteQuery query(window.DB());
  query.SQL = {"SELECT COUNT(*) AS `n`", "FROM `brg`"};
  return query.Open() ? query.FieldValue("n").ToInt32() : -1;
}

// A point in the grid's empty area under its last row.
QPoint BelowTheRows(const QTableWidget* grid) {
  const int last = grid->rowCount() - 1;
  const QPoint point(grid->columnWidth(0) / 2, grid->rowViewportPosition(last) + grid->rowHeight(last) + 10);
  EXPECT_LT(point.y(), grid->viewport()->height()) << "the grid has no empty area";
  return point;
}

struct BridgeTabTest : OpenLinkFixture {
  Ui::uOrvaneMonitor& ui = window->Form();
};

// The same window before its port is opened.
struct BridgeGridTest : LinkFixture {
  Ui::uOrvaneMonitor& ui = window->Form();
};

}  // namespace

TEST_F(BridgeTabTest, ReportOverThePortAddsABridgeRow) {
  gateway.Send(":brg2gw 0 " + kInformationFrame + " 65\r\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(ui.sBridges, 0, 0) == kBridge; }, 5000));
  EXPECT_EQ(ui.sBridges->rowCount(), 1);
  EXPECT_EQ(Cell(ui.sBridges, 0, 1), "1.2.3");
  EXPECT_EQ(Cell(ui.sBridges, 0, 2), "161");  // board type: the ID's first byte
  EXPECT_EQ(Cell(ui.sBridges, 0, 4), "-65");
  EXPECT_TRUE(ui.bBRG_Blink->isEnabled());
}

TEST_F(BridgeTabTest, MonitorBridgesUnticksGnssFirstAndCountsTheTimeWhileTicked) {
  ui.cShow_GNSS->click();
  window->HandleLine(":brg2gw 0 " + kInformationFrame + " 65");
  ui.cShow_BRG->click();
  EXPECT_TRUE(ui.cShow_BRG->isChecked());
  EXPECT_FALSE(ui.cShow_GNSS->isChecked());
  EXPECT_EQ(Queue(), (Lines{"%show_gnss 1", "%show_gnss 0", "%show_brg 1"}));
  // Ticked: seconds since the report, refreshed every second.
  EXPECT_EQ(Cell(ui.sBridges, 0, 3).find(':'), std::string::npos);
  EXPECT_TRUE(window->tRefreshBridges.isActive());

  ui.cShow_BRG->click();
  EXPECT_EQ(Queue().back(), "%show_brg 0");
  // Unticked: the clock time of the report, and no more refreshing.
  EXPECT_EQ(Cell(ui.sBridges, 0, 3).size(), 8u);
  EXPECT_FALSE(window->tRefreshBridges.isActive());
}

TEST_F(BridgeTabTest, LevelFilterBlinkAndSignalCheckAreBound) {
  window->HandleLine(":brg2gw 0 " + kInformationFrame + " 65");
  ui.tBridgeLevel->setValue(-60);
  EXPECT_EQ(ui.tBridgeLevel->toolTip(), "-60");
  EXPECT_EQ(Cell(ui.sBridges, 0, 0), "");  // -65 is below the filter
  ui.tBridgeLevel->setValue(-65);
  ASSERT_EQ(Cell(ui.sBridges, 0, 0), kBridge);

  ui.bBRG_Blink->click();
  // Regression: only a double click on a cell blinked, not one below the rows.
  window->show();
  ui.PageControl1->setCurrentWidget(ui.tBridges);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  QTest::mouseDClick(ui.sBridges->viewport(), Qt::LeftButton, {}, BelowTheRows(ui.sBridges));
  ui.bBRG_Signal->click();  // hidden, but enabled with a row
  const Lines queued = Queue();
  ASSERT_EQ(queued.size(), 3u);
  // Header, the API version 7 and a random byte, then ID and command.
  for (const std::string& line : queued) EXPECT_EQ(line.substr(0, 26), "%pkt_tx 1E16AFFD0000ED0707") << line;
  EXPECT_EQ(queued[0].substr(28), kBridge + "02");
  EXPECT_EQ(queued[1].substr(28), kBridge + "02");
  EXPECT_EQ(queued[2].substr(28), kBridge + "08" + "54455354");
}

TEST_F(BridgeGridTest, OpeningThePortForgetsTheBridgesOfTheLastConnection) {
  window->HandleLine(":brg2gw 0 " + kInformationFrame + " 65");
  QCoreApplication::processEvents();  // the grid follows at the end of the pass
  ASSERT_EQ(Cell(ui.sBridges, 0, 0), kBridge);
  ui.cShow_BRG->setChecked(true);
  OpenCom1();
  EXPECT_EQ(StoredBridges(*window), 0);
  EXPECT_EQ(ui.sBridges->rowCount(), 1);
  EXPECT_EQ(Cell(ui.sBridges, 0, 0), "");
  EXPECT_FALSE(ui.bBRG_Blink->isEnabled());
  EXPECT_FALSE(ui.cShow_BRG->isChecked());
  EXPECT_FALSE(window->tRefreshBridges.isActive());
}

// Regression: with this platform's font the IDs were cut short ("010EDED43...")
// at the column width drawn for the original one.
TEST_F(BridgeGridTest, WholeIdsAndAllColumnsFitAFullGrid) {
  window->show();
  ui.PageControl1->setCurrentWidget(ui.tBridges);
  // More bridges than the grid has room for, so the vertical scroll bar takes its share.
  for (int i = 0; i < 12; ++i) {
    std::string frame = kInformationFrame;
    frame.replace(24, 2, QStringLiteral("%1").arg(0xD0 + i, 2, 16).toUpper().toStdString());
    window->HandleLine(":brg2gw 0 " + frame + " 65");
  }
  QCoreApplication::processEvents();
  ASSERT_EQ(ui.sBridges->rowCount(), 12);
  QTest::qWait(0);
  const QFontMetrics metrics(ui.sBridges->font());
  for (int row = 0; row < ui.sBridges->rowCount(); ++row)
    EXPECT_LE(metrics.horizontalAdvance(ui.sBridges->item(row, 0)->text()) + 6, ui.sBridges->columnWidth(0));
  EXPECT_TRUE(ui.sBridges->verticalScrollBar()->isVisible());
  EXPECT_EQ(ui.sBridges->horizontalScrollBar()->maximum(), 0) << "the RX column is out of view";
}

#ifdef GATEWAY_SIM
// Against the gateway simulator: ticking "Monitor bridges" makes the gateway
// forward its bridges, and the first information frame puts a version in the grid.
TEST(GatewaySimulator, MonitoredBridgesAppearWithTheirVersion) {
  SimulatedGateway simulator({"--bridges", "2", "--bridge-interval", "300", "--seed", "11", "--gnss-fix-ms", "0"});
  ASSERT_TRUE(simulator.Started());
  {
    TFOvMonitor window;
    Ui::uOrvaneMonitor& ui = window.Form();
    OpenCom1(window);
    ui.cShow_BRG->click();

    const auto versionShown = [&] {
      for (int row = 0; row < ui.sBridges->rowCount(); ++row)
        if (Cell(ui.sBridges, row, 0).size() == 12 && !Cell(ui.sBridges, row, 1).empty()) return true;
      return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(versionShown, 15000));
    EXPECT_TRUE(window.tRefreshBridges.isActive());
    window.close();
  }
}

// Against the simulator: the user selects a bridge, a bridge whose ID sorts
// before it is heard, and Blink, as well as a double click in the grid's empty
// area, still goes to the selected bridge.
TEST(GatewaySimulator, BlinkGoesToTheSelectedBridgeAfterOneIsListedAboveIt) {
  SimulatedGateway simulator({"--bridges", "0", "--seed", "5", "--gnss-fix-ms", "0", "--control", "control", "--log",
                              "received.log"});
  ASSERT_TRUE(simulator.Started());
  const auto heard = [&](const std::string& id) {
    std::string frame = kInformationFrame;
    frame.replace(24, 12, id);
    simulator.Control("send :brg2gw 0 " + frame + " 65");
  };
  {
    TFOvMonitor window;
    Ui::uOrvaneMonitor& ui = window.Form();
    OpenCom1(window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.PendingCommands().empty(); }, 15000));
    window.show();
    ui.PageControl1->setCurrentWidget(ui.tBridges);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    heard("F0F0F0F0F0F0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(ui.sBridges, 0, 0) == "F0F0F0F0F0F0"; }, 5000));
    QTableWidget* grid = ui.sBridges;
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(0, 1)).center());
    heard("A0A0A0A0A0A0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(grid, 0, 0) == "A0A0A0A0A0A0"; }, 5000));

    ui.bBRG_Blink->click();
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, BelowTheRows(grid));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.PendingCommands().empty(); }, 5000));
    window.close();
  }
  simulator.Stop();
  QFile received(simulator.FilePath("received.log"));
  ASSERT_TRUE(received.open(QIODevice::ReadOnly));
  QStringList blinks;
  for (const QString& line : QString::fromLatin1(received.readAll()).split('\n'))
    if (line.startsWith("%pkt_tx")) blinks << line.mid(28);  // the ID and the command
  EXPECT_EQ(blinks, QStringList({"F0F0F0F0F0F002", "F0F0F0F0F0F002"}));
}
#endif
