// The bridge tab on real widgets and a real in-memory database: reports go in
// as the gateway sends them, and what the table, the grid and the command
// queue hold afterwards is checked.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <QTest>
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BridgeMonitor.h"
#include "db/MonitorSchema.h"
#include "db/MySQLite.h"
#include "support/MyConvert.h"
#include "widgets/Clipboard.h"
#include "widgets/LedPanel.h"

namespace {

const std::string kBridge = "A1B2C3D4E5F6";

// A 27-byte uplink payload: prefix, type, API version, one unused byte, the
// bridge ID, then zeros for the caller to fill.
std::string Payload(int type, int apiVersion, const std::string& id = kBridge) {
  std::string frame("\x00\x00\xEE", 3);
  frame += static_cast<char>(type);
  frame += static_cast<char>(apiVersion);
  frame += '\x55';
  frame += HexToBytes(id, false);
  frame.resize(27, '\0');
  return frame;
}

// Information frame: the ID and the board type sit from byte 12, the version from 18.
std::string InformationFrame(const std::string& id, int major, int minor, int patch) {
  std::string frame = Payload(2, 7, "010101010101");
  const std::string idBytes = HexToBytes(id, false);
  frame.replace(12, 6, idBytes);
  frame[18] = static_cast<char>(major);
  frame[19] = static_cast<char>(minor);
  frame[20] = static_cast<char>(patch);
  return frame;
}

std::string Report(const std::string& frame, const std::string& signal) {
  return "1 " + BytesToHex(frame, false) + " " + signal;
}

struct BridgeMonitorTest : ::testing::Test {
  QWidget tab;
  QTableWidget* grid = new QTableWidget(&tab);
  QSlider* level = new QSlider(&tab);
  QCheckBox* monitorBox = new QCheckBox(QStringLiteral("Monitor bridges"), &tab);
  QPushButton* blink = new QPushButton(QStringLiteral("Blink"), &tab);
  QPushButton* signalCheck = new QPushButton(QStringLiteral("Check signal"), &tab);
  TLedPanel* rxLamp = new TLedPanel(&tab);
  QTimer refreshTimer;
  TSQLiteDB database{""};
  std::vector<std::string> queued;
  std::unique_ptr<TBridgeMonitor> monitor;

  BridgeMonitorTest() {
    CreateSchema(database);
    monitor = std::make_unique<TBridgeMonitor>(
        database, TBridgeControls{grid, level, monitorBox, blink, signalCheck, rxLamp, &refreshTimer},
        [this](const std::string& command, const std::string& argument) {
          queued.push_back(argument.empty() ? command : command + " " + argument);
        },
        [] { return std::uint8_t{0x3C}; });
    monitor->SetupControls();
  }

  // A report as the window gets it: its pass of the event loop ends before the
  // next event, and the grid is brought up to date then.
  void Receive(const std::string& report) {
    monitor->ParseBridgeReport(report);
    QCoreApplication::processEvents();
  }
  void Tick(bool ticked) {
    monitorBox->setChecked(ticked);
    monitor->cShow_BRGClick();
  }
  void SetLevel(int value) {
    level->setValue(value);
    monitor->tBridgeLevelChange();
  }

  // The `brg` row of a bridge, column name -> text ("" for NULL); empty when absent.
  std::map<std::string, std::string> Row(const std::string& id) {
    TSQLiteQuery query(database);
    query.SQL = {"SELECT * FROM `brg` WHERE `MAC` = ?"};
    query.Prepare();
    query.BindParam(1, Variant(id));
    std::map<std::string, std::string> row;
    if (query.Open())
      for (const std::string& column : query.Columns()) {
        const Variant value = query.FieldValue(column);
        row[column] = value.IsNull() ? "<null>" : value.ToString();
      }
    return row;
  }
  int BridgeCount() {
    TSQLiteQuery query(database);
    query.SQL = {"SELECT COUNT(*) AS `n` FROM `brg`"};
    query.Open();
    return query.FieldValue("n").ToInt32();
  }
  std::vector<std::string> GridRow(int row) {
    std::vector<std::string> cells;
    for (int column = 0; column < grid->columnCount(); ++column) {
      const QTableWidgetItem* item = grid->item(row, column);
      cells.push_back(item ? item->text().toStdString() : std::string());
    }
    return cells;
  }
  std::vector<std::string> GridColumn(int column) {
    std::vector<std::string> cells;
    for (int row = 0; row < grid->rowCount(); ++row)
      cells.push_back(grid->item(row, column) ? grid->item(row, column)->text().toStdString() : "");
    return cells;
  }
  int FindInColumn(const std::string& id) {
    const auto ids = GridColumn(0);
    const auto it = std::find(ids.begin(), ids.end(), id);
    return it == ids.end() ? -1 : static_cast<int>(it - ids.begin());
  }
  bool GridIsEmpty() { return grid->rowCount() == 1 && GridRow(0) == std::vector<std::string>(5); }
};

TEST_F(BridgeMonitorTest, SetupGivesTheFiveColumnGridAndTheSignalFilter) {
  ASSERT_EQ(grid->columnCount(), 5);
  const char* headers[] = {"Bridge", "Version", "Type", "Time", "RX"};
  const int widths[] = {88, 58, 32, 52, 32};
  for (int column = 0; column < 5; ++column) {
    EXPECT_EQ(grid->horizontalHeaderItem(column)->text().toStdString(), headers[column]);
    EXPECT_EQ(grid->columnWidth(column), widths[column]);
  }
  EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
  EXPECT_EQ(grid->rowHeight(0), 21);
  EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(GridIsEmpty());
  EXPECT_EQ(level->minimum(), -120);
  EXPECT_EQ(level->maximum(), 0);
  EXPECT_EQ(level->singleStep(), 5);
  EXPECT_EQ(level->pageStep(), 5);
  EXPECT_EQ(level->value(), -120);
  EXPECT_EQ(level->toolTip().toStdString(), "-120");
  EXPECT_TRUE(signalCheck->isHidden());
  EXPECT_FALSE(blink->isEnabled());
  EXPECT_FALSE(refreshTimer.isActive());
}

// The 31-byte rule, and the prefix test on whatever remains.
TEST_F(BridgeMonitorTest, FrameLengthDecidesWhetherTheAdvertisingHeaderIsDropped) {
  const std::string payload = Payload(7, 3);
  const std::string advertising("\x1E\x16\xAF\xFD", 4);

  Receive(Report(advertising + payload, "70"));  // 31 bytes: header dropped
  const auto withHeader = Row(kBridge);
  ASSERT_FALSE(withHeader.empty());
  EXPECT_EQ(withHeader.at("APIVER"), "3");
  EXPECT_EQ(withHeader.at("RSSI_RX"), "-70");

  monitor->ClearBridges();
  Receive(Report(payload, "70"));  // the same 27 bytes alone
  auto alone = Row(kBridge);
  EXPECT_EQ(alone.erase("RECEIVED"), 1u);
  auto expected = withHeader;
  expected.erase("RECEIVED");
  EXPECT_EQ(alone, expected);

  monitor->ClearBridges();
  // 30 bytes keep all of them: the header's own first bytes fail the prefix test...
  Receive(Report(advertising.substr(1) + payload, "70"));
  EXPECT_EQ(BridgeCount(), 0);
  // ...while a 30-byte frame that itself starts 00 00 EE is read from byte 0.
  Receive(Report(payload + std::string(3, '\x77'), "70"));
  EXPECT_EQ(Row(kBridge).at("RSSI_RX"), "-70");
}

// Rejected reports change nothing and do not refresh the grid; any frame that
// passes the prefix test refreshes it, stored or not.
TEST_F(BridgeMonitorTest, ShortOrForeignFramesAreIgnoredAndOtherTypesOnlyRefresh) {
  ASSERT_TRUE(database.Execute("INSERT INTO `brg` (`MAC`,`APIVer`,`RSSI_RX`,`Received`) "
                               "VALUES ('0000000000AA',1,-50,CURRENT_TIMESTAMP)"));
  const std::string payload = Payload(7, 3);
  const std::vector<std::string> ignored = {
      Report(payload.substr(0, 26), "50"),                       // one byte short
      Report(std::string("\x00\x00\xEF", 3) + payload.substr(3), "50"),  // wrong prefix
      "1",                                                       // no frame at all
      "",                                                        // nothing
      "1 00 00 EE",                                              // spaced hex is not a frame
  };
  for (const std::string& report : ignored) {
    Receive(report);
    EXPECT_EQ(BridgeCount(), 1) << report;
    EXPECT_TRUE(GridIsEmpty()) << report;
  }
  EXPECT_EQ(rxLamp->LedType(), ltOff);

  Receive(Report(Payload(5, 3), "50"));
  EXPECT_EQ(BridgeCount(), 1);  // type 5 stores nothing
  EXPECT_EQ(rxLamp->LedType(), ltOff);
  EXPECT_EQ(GridColumn(0), std::vector<std::string>{"0000000000AA"});
}

// A pair that is not hexadecimal reads as 0 and a lone last digit is a byte
// of its own, so a frame with such flaws is still decoded.
TEST_F(BridgeMonitorTest, BadHexDigitsDecodeAsZeros) {
  std::string hex = BytesToHex(Payload(7, 3), false);
  hex.replace(0, 2, "ZZ");  // first byte: 0 anyway
  Receive("1 " + hex + "F 60");
  EXPECT_EQ(Row(kBridge).at("RSSI_RX"), "-60");

  hex.replace(12, 2, "G1");  // first ID byte becomes 00
  Receive("1 " + hex + " 60");
  EXPECT_FALSE(Row("00B2C3D4E5F6").empty());
}

TEST_F(BridgeMonitorTest, FirstReportFixesTheApiVersionUntilTheNextReset) {
  Receive(Report(Payload(7, 3), "60"));
  Receive(Report(Payload(2, 4), "55"));
  const auto row = Row(kBridge);
  EXPECT_EQ(row.at("APIVER"), "3");
  EXPECT_EQ(row.at("RSSI_RX"), "-55");  // the later report still updates the signal
  EXPECT_EQ(BridgeCount(), 1);
  EXPECT_EQ(rxLamp->LedType(), ltTrigger);

  monitor->ClearBridges();
  Receive(Report(Payload(2, 4), "55"));
  EXPECT_EQ(Row(kBridge).at("APIVER"), "4");
}

// The signal field is taken by its low 8 bits and stored negated.
TEST_F(BridgeMonitorTest, SignalIsStoredNegatedAndFiltersTheGrid) {
  Receive(Report(Payload(7, 7), "65"));
  EXPECT_EQ(Row(kBridge).at("RSSI_RX"), "-65");
  EXPECT_EQ(GridRow(0)[4], "-65");

  SetLevel(-60);
  EXPECT_EQ(level->toolTip().toStdString(), "-60");
  EXPECT_TRUE(GridIsEmpty());
  EXPECT_FALSE(blink->isEnabled());
  SetLevel(-65);
  EXPECT_EQ(GridColumn(0), std::vector<std::string>{kBridge});
  EXPECT_TRUE(blink->isEnabled());

  Receive(Report(Payload(7, 7), "-65"));
  EXPECT_EQ(Row(kBridge).at("RSSI_RX"), "-191");
  Receive(Report(Payload(7, 7), "321"));  // 321 & 0xFF
  EXPECT_EQ(Row(kBridge).at("RSSI_RX"), "-65");
  Receive(Report(Payload(7, 7), "6x"));  // not a number: 0
  EXPECT_EQ(Row(kBridge).at("RSSI_RX"), "0");
}

TEST_F(BridgeMonitorTest, InformationFrameStoresVersionAndBoardTypeUnderItsOwnId) {
  Receive(Report(InformationFrame("C1B2C3D4E5F6", 1, 2, 3), "48"));
  EXPECT_TRUE(Row("010101010101").empty());  // bytes 6..11 are not the ID here
  const auto row = Row("C1B2C3D4E5F6");
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row.at("VERSION"), "1.2.3");
  EXPECT_EQ(row.at("BOARDTYPE"), "193");  // 0xC1, the ID's first byte
  EXPECT_EQ(row.at("APIVER"), "7");
  EXPECT_EQ(row.at("RSSI_RX"), "-48");
  EXPECT_EQ(row.at("RSSI_TX"), "<null>");
  const auto cells = GridRow(0);
  EXPECT_EQ(cells[0], "C1B2C3D4E5F6");
  EXPECT_EQ(cells[1], "1.2.3");
  EXPECT_EQ(cells[2], "193");

  Receive(Report(InformationFrame("C1B2C3D4E5F6", 3, 17, 255), "48"));
  EXPECT_EQ(Row("C1B2C3D4E5F6").at("VERSION"), "3.17.255");

  // Type 2 with any other API version is an ordinary report keyed by bytes 6..11.
  Receive(Report(Payload(2, 6), "40"));
  EXPECT_EQ(Row(kBridge).at("VERSION"), "<null>");
}

TEST_F(BridgeMonitorTest, SignalCheckAnswerStoresTheBridgesOwnMeasurement) {
  std::string answer = Payload(7, 7);
  answer[12] = 8;
  answer[26] = 40;
  Receive(Report(answer, "60"));
  EXPECT_EQ(Row(kBridge).at("RSSI_TX"), "-40");

  std::string other = Payload(7, 7);
  other[12] = 9;
  other[26] = 20;
  Receive(Report(other, "60"));
  EXPECT_EQ(Row(kBridge).at("RSSI_TX"), "-40");
}

TEST_F(BridgeMonitorTest, BlinkAndSignalCheckQueueTheDownlinkFrame) {
  Receive(Report(Payload(7, 7), "60"));
  monitor->bBRG_BlinkClick();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0], "%pkt_tx 1E16AFFD0000ED07073CA1B2C3D4E5F602");

  std::string answer = Payload(7, 7);
  answer[12] = 8;
  answer[26] = 40;
  Receive(Report(answer, "60"));
  monitor->bBRG_SignalClick();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_EQ(queued[1], "%pkt_tx 1E16AFFD0000ED07073CA1B2C3D4E5F60854455354");
  EXPECT_EQ(Row(kBridge).at("RSSI_TX"), "<null>");  // the old answer is forgotten first
}

TEST_F(BridgeMonitorTest, DownlinkTakesTheSelectedBridgeAndItsApiVersion) {
  Receive(Report(Payload(7, 3, "000000000001"), "60"));
  Receive(Report(Payload(7, 0xA5, "000000000002"), "60"));
  grid->setCurrentCell(1, 2);
  monitor->bBRG_BlinkClick();
  grid->setCurrentCell(0, 0);
  monitor->bBRG_BlinkClick();
  // An unknown ID (or one shorter than 12 digits) gets API version 7 and its own bytes.
  monitor->SendBridgePacket("ABC", 2, "");
  EXPECT_EQ(queued, (std::vector<std::string>{"%pkt_tx 1E16AFFD0000ED07A53C00000000000202",
                                              "%pkt_tx 1E16AFFD0000ED07033C00000000000102",
                                              "%pkt_tx 1E16AFFD0000ED07073CAB0C02"}));
}

TEST_F(BridgeMonitorTest, DownlinkFramesDrawANewRandomByteEach) {
  std::uint8_t next = 0xFE;
  TBridgeMonitor counting(
      database, TBridgeControls{grid, level, monitorBox, blink, signalCheck, rxLamp, &refreshTimer},
      [this](const std::string& command, const std::string& argument) { queued.push_back(command + " " + argument); },
      [&next] { return next++; });
  counting.SendBridgePacket(kBridge, 2, "");
  counting.SendBridgePacket(kBridge, 2, "");
  EXPECT_EQ(queued, (std::vector<std::string>{"%pkt_tx 1E16AFFD0000ED0707FEA1B2C3D4E5F602",
                                              "%pkt_tx 1E16AFFD0000ED0707FFA1B2C3D4E5F602"}));
}

TEST_F(BridgeMonitorTest, BlinkWithoutBridgeRowsSendsAFrameWithoutId) {
  monitor->bBRG_BlinkClick();  // the grid's double click with nothing listed
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0], "%pkt_tx 1E16AFFD0000ED07073C02");
  EXPECT_EQ(queued[0].size() - std::string("%pkt_tx ").size(), 22u);
}

TEST_F(BridgeMonitorTest, MonitoringRunsTheTimerOnlyWhileRowsAreShown) {
  Tick(true);
  EXPECT_EQ(queued, std::vector<std::string>{"%show_brg 1"});
  EXPECT_FALSE(refreshTimer.isActive());  // no rows yet
  EXPECT_FALSE(blink->isEnabled());
  EXPECT_FALSE(signalCheck->isEnabled());

  Receive(Report(Payload(7, 7), "60"));
  EXPECT_TRUE(refreshTimer.isActive());
  EXPECT_TRUE(blink->isEnabled());
  EXPECT_TRUE(signalCheck->isEnabled());

  SetLevel(-55);  // filtered away
  EXPECT_FALSE(refreshTimer.isActive());
  EXPECT_FALSE(blink->isEnabled());
  SetLevel(-120);
  EXPECT_TRUE(refreshTimer.isActive());

  Tick(false);
  EXPECT_EQ(queued.back(), "%show_brg 0");
  EXPECT_FALSE(refreshTimer.isActive());
  EXPECT_TRUE(blink->isEnabled());  // rows still listed
}

// Column 3 is the age of the last report while monitoring, its local clock time otherwise.
TEST_F(BridgeMonitorTest, TimeColumnShowsAgeWhileMonitoringElseLocalTime) {
  Receive(Report(Payload(7, 7), "60"));
  ASSERT_TRUE(database.Execute("UPDATE `brg` SET `Received` = '2020-06-15 12:34:56'"));
  const QDateTime received(QDate(2020, 6, 15), QTime(12, 34, 56), Qt::UTC);

  monitor->RefreshBridges();
  EXPECT_EQ(GridRow(0)[3], received.toLocalTime().toString(QStringLiteral("HH:mm:ss")).toStdString());

  Tick(true);
  const qint64 before = received.secsTo(QDateTime::currentDateTimeUtc());
  monitor->tRefreshBridgesTimer();
  const qint64 age = std::stoll(GridRow(0)[3]);
  EXPECT_GE(age, before);
  EXPECT_LE(age, received.secsTo(QDateTime::currentDateTimeUtc()));
}

TEST_F(BridgeMonitorTest, GridListsBridgesByIdWithNullsAsEmptyCells) {
  for (const char* id : {"00000000000C", "00000000000A", "00000000000B"})
    Receive(Report(Payload(7, 7, id), "70"));
  EXPECT_EQ(GridColumn(0), (std::vector<std::string>{"00000000000A", "00000000000B", "00000000000C"}));
  EXPECT_EQ(GridRow(1)[1], "");  // no version yet
  EXPECT_EQ(GridRow(1)[2], "");

  // A bridge without a signal level never shows.
  ASSERT_TRUE(database.Execute("UPDATE `brg` SET `RSSI_RX` = NULL WHERE `MAC` = '00000000000B'"));
  monitor->RefreshBridges();
  EXPECT_EQ(GridColumn(0), (std::vector<std::string>{"00000000000A", "00000000000C"}));
}

TEST_F(BridgeMonitorTest, ClearBridgesEmptiesTableAndGridAfterRefresh) {
  Tick(true);
  Receive(Report(Payload(7, 7, "00000000000A"), "70"));
  Receive(Report(Payload(7, 7, "00000000000B"), "70"));
  ASSERT_EQ(grid->rowCount(), 2);

  monitor->ClearBridges();
  EXPECT_EQ(BridgeCount(), 0);
  monitor->RefreshBridges();
  EXPECT_TRUE(GridIsEmpty());
  EXPECT_EQ(grid->horizontalHeaderItem(0)->text().toStdString(), "Bridge");
  EXPECT_FALSE(refreshTimer.isActive());
  EXPECT_FALSE(blink->isEnabled());
}

// Bursts of reports update the grid row by row, once per pass of the event
// loop; after every pass it must hold exactly what a full reload gives, with
// the selection still on the bridge the user picked.
TEST_F(BridgeMonitorTest, RowUpdatesAlwaysMatchAFullReload) {
  std::mt19937 random(12);
  const auto id = [](int n) { return QStringLiteral("%1").arg(n * 7919 % 4096, 12, 16, QLatin1Char('0')).toUpper().toStdString(); };
  const auto snapshot = [this] {
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < grid->rowCount(); ++row) rows.push_back(GridRow(row));
    return rows;
  };
  struct Phase {
    const char* edge;
    bool monitoring;
    int level;
    int bridges;  // distinct IDs reported in the phase
    int burst;    // reports per pass of the event loop
  } const phases[] = {
      {"new bridges one per pass", false, -120, 20, 1},
      {"bursts over known and new bridges", false, -120, 40, 6},
      {"a filter that hides weak reports", false, -80, 40, 4},
      {"monitoring: the Time column counts", true, -120, 40, 5},
      {"many at once: a reload", false, -120, 60, 60},
  };
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.edge);
    monitorBox->setChecked(phase.monitoring);
    SetLevel(phase.level);
    for (int pass = 0; pass < 12; ++pass) {
      if (grid->rowCount() > 3) grid->setCurrentCell(3, 0);
      const int current = grid->currentRow();
      const std::string selected = current >= 0 ? GridRow(current)[0] : std::string();
      for (int i = 0; i < phase.burst; ++i) {
        const int n = static_cast<int>(random() % phase.bridges);
        const bool information = random() % 5 == 0;
        const std::string frame = information ? InformationFrame(id(n), 1, n % 9, pass) : Payload(7, 7, id(n));
        monitor->ParseBridgeReport(Report(frame, std::to_string(40 + random() % 60)));
      }
      EXPECT_TRUE(monitor->RefreshPending());
      QCoreApplication::processEvents();
      EXPECT_FALSE(monitor->RefreshPending());
      const auto updated = snapshot();
      const bool blinkEnabled = blink->isEnabled();
      // As a reload leaves it: on the picked bridge, or on the same row number once that bridge is gone.
      if (!selected.empty()) {
        const int row = FindInColumn(selected);
        EXPECT_EQ(grid->currentRow(), row >= 0 ? row : std::min(current, grid->rowCount() - 1)) << "pass " << pass;
      }
      monitor->RefreshBridges();
      ASSERT_EQ(updated, snapshot()) << "pass " << pass;
      EXPECT_EQ(blinkEnabled, blink->isEnabled());
    }
  }
}

// The picked bridge leaves the filter in the pass that lists one above it: the
// highlight stays on its row number, where a reload leaves it.
TEST_F(BridgeMonitorTest, PickedBridgeLeavingTheFilterLeavesTheHighlightWhereAReloadDoes) {
  SetLevel(-80);
  for (const char* id : {"000000000001", "000000000003", "000000000004"}) Receive(Report(Payload(7, 7, id), "60"));
  grid->setCurrentCell(1, 0);
  monitor->ParseBridgeReport(Report(Payload(7, 7, "000000000002"), "60"));
  monitor->ParseBridgeReport(Report(Payload(7, 7, "000000000003"), "90"));
  QCoreApplication::processEvents();
  EXPECT_EQ(GridRow(grid->currentRow())[0], "000000000002");
}

// Nothing waits for the end of the pass when the grid is painted or read.
TEST_F(BridgeMonitorTest, APaintOrABlinkBringsTheGridUpToDateFirst) {
  tab.resize(400, 300);
  grid->resize(380, 280);
  tab.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tab));
  monitor->ParseBridgeReport(Report(Payload(7, 7), "60"));
  EXPECT_TRUE(GridIsEmpty());  // not yet: the pass has not ended
  grid->viewport()->repaint();
  EXPECT_EQ(GridRow(0)[0], kBridge);

  // No row picked: Blink takes the first, which is the new bridge once the grid is up to date.
  grid->setCurrentCell(-1, -1);
  monitor->ParseBridgeReport(Report(Payload(7, 7, "000000000001"), "60"));
  monitor->bBRG_BlinkClick();
  ASSERT_FALSE(queued.empty());
  EXPECT_EQ(queued.back().substr(28), "00000000000102");
}

TEST_F(BridgeMonitorTest, CtrlCCopiesTheSelectedRowsWithTheHeaderAsTabSeparatedText) {
  Receive(Report(InformationFrame("C1B2C3D4E5F6", 1, 2, 3), "48"));
  Receive(Report(Payload(7, 7, "000000000001"), "60"));
  ASSERT_TRUE(database.Execute("UPDATE `brg` SET `Received` = '2020-06-15 12:34:56'"));
  monitor->RefreshBridges();
  const std::string time = GridRow(1)[3];
  grid->setCurrentCell(1, 2);
  grid->setFocus();
  QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(ClipboardText(), "Bridge\tVersion\tType\tTime\tRX\nC1B2C3D4E5F6\t1.2.3\t193\t" + time + "\t-48\n");
  grid->clearSelection();
  QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(ClipboardText(), "Bridge\tVersion\tType\tTime\tRX\n");
}

}  // namespace
