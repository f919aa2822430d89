// What one bridge report costs the GUI thread with 100, 1000 and 5000 bridges
// in the table:
//   Statements  the bare INSERT OR IGNORE + UPDATE of a report through the
//               SQLite layer, no widgets (the floor);
//   Report      ParseBridgeReport: decode, both statements, grid refresh;
//   ReportPaint the same with the tab on screen (offscreen platform) and the
//               repaint that follows each report;
//   Refresh     RefreshBridges alone (what tRefreshBridges does every second);
//   NaiveFill   filling the grid with new items every time, for comparison
//               with the in-place refresh.
// A gateway among 1000 bridges that each report every 30 s sends ~33 reports
// a second, each followed by a refresh: Report/1000 × 33 is the share of the
// GUI thread they take.
//
//   bridges_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BridgeMonitor.h"
#include "db/MonitorSchema.h"
#include "db/MySQLite.h"
#include "support/MyConvert.h"
#include "widgets/LedPanel.h"

namespace {

std::string BridgeId(int index) {
  char text[16];
  std::snprintf(text, sizeof text, "%012X", index + 1);
  return text;
}

// "<unused> <27-byte frame of type 7> <signal>", one per stored bridge, with
// signals that differ from report to report as they do on air.
std::vector<std::string> Reports(int bridges) {
  std::vector<std::string> reports;
  for (int i = 0; i < bridges; ++i) {
    std::string frame("\x00\x00\xEE\x07\x07\x00", 6);
    frame += HexToBytes(BridgeId(i), false);
    frame.resize(27, '\0');
    reports.push_back("1 " + BytesToHex(frame, false) + " " + std::to_string(40 + (i * 7) % 50));
  }
  return reports;
}

struct BridgeTab {
  std::unique_ptr<QWidget> tab = std::make_unique<QWidget>();
  QTableWidget* grid = new QTableWidget(tab.get());
  QSlider* level = new QSlider(tab.get());
  QCheckBox* monitorBox = new QCheckBox(tab.get());
  QPushButton* blink = new QPushButton(tab.get());
  QPushButton* signalCheck = new QPushButton(tab.get());
  TLedPanel* lamp = new TLedPanel(tab.get());
  QTimer refreshTimer;
  TSQLiteDB database{""};
  std::unique_ptr<TBridgeMonitor> monitor;

  explicit BridgeTab(int bridges) {
    CreateSchema(database);
    TSQLiteQuery insert(database);
    insert.SQL = {"INSERT INTO `brg` (`MAC`,`APIVer`,`RSSI_RX`,`Received`) VALUES (?,7,?,CURRENT_TIMESTAMP)"};
    insert.Prepare(true);
    for (int i = 0; i < bridges; ++i) {
      insert.BindParam(1, Variant(BridgeId(i)));
      insert.BindParam(2, Variant(-60));
      if (!insert.ExecSQL()) std::abort();
    }
    monitor = std::make_unique<TBridgeMonitor>(
        database, TBridgeControls{grid, level, monitorBox, blink, signalCheck, lamp, &refreshTimer},
        [](const std::string&, const std::string&) {});
    monitor->SetupControls();
    grid->setGeometry(8, 34, 300, 180);
    monitorBox->setChecked(true);
    monitor->RefreshBridges();
    if (grid->rowCount() != bridges) std::abort();
  }
};

void Statements(benchmark::State& state) {
  const int bridges = static_cast<int>(state.range(0));
  BridgeTab setup(bridges);
  TSQLiteQuery insert(setup.database);
  insert.SQL = {"INSERT OR IGNORE INTO `brg` (`MAC`,`APIVer`,`Received`)", "VALUES (?,?,CURRENT_TIMESTAMP)"};
  insert.Prepare(true);
  TSQLiteQuery update(setup.database);
  update.SQL = {"UPDATE `brg`", "SET `Received` = CURRENT_TIMESTAMP, `RSSI_RX` = ?", "WHERE `MAC` = ?"};
  update.Prepare(true);
  std::vector<std::string> ids;
  for (int i = 0; i < bridges; ++i) ids.push_back(BridgeId(i));
  int next = 0;
  for (auto _ : state) {
    const std::string& id = ids[next];
    insert.BindParam(1, Variant(id));
    insert.BindParam(2, Variant(7));
    insert.ExecSQL();
    update.BindParam(1, Variant(-40 - next % 50));
    update.BindParam(2, Variant(id));
    update.ExecSQL();
    next = (next + 1) % bridges;
  }
  state.SetItemsProcessed(state.iterations());
}

void Report(benchmark::State& state, bool painted) {
  const int bridges = static_cast<int>(state.range(0));
  BridgeTab setup(bridges);
  const std::vector<std::string> reports = Reports(bridges);
  if (painted) {
    setup.tab->resize(520, 260);
    setup.tab->show();
    QApplication::processEvents();
  }
  int next = 0;
  for (auto _ : state) {
    setup.monitor->ParseBridgeReport(reports[next]);
    if (painted) QApplication::processEvents();
    next = (next + 1) % bridges;
  }
  state.SetItemsProcessed(state.iterations());
}

void ReportOnly(benchmark::State& state) { Report(state, false); }
void ReportPaint(benchmark::State& state) { Report(state, true); }

void Refresh(benchmark::State& state) {
  BridgeTab setup(static_cast<int>(state.range(0)));
  for (auto _ : state) setup.monitor->RefreshBridges();
  state.SetItemsProcessed(state.iterations());
}

// The grid filled the plain way (all items new, every refresh), from texts
// already read: the widget part alone of a refresh that does not reuse items.
void NaiveFill(benchmark::State& state) {
  const int bridges = static_cast<int>(state.range(0));
  BridgeTab setup(bridges);
  std::vector<std::vector<QString>> rows;
  for (int i = 0; i < bridges; ++i)
    rows.push_back({QString::fromStdString(BridgeId(i)), QString(), QString(), QStringLiteral("12"),
                    QStringLiteral("-60")});
  QTableWidget* grid = setup.grid;
  for (auto _ : state) {
    grid->clearContents();
    grid->setRowCount(bridges);
    for (int row = 0; row < bridges; ++row)
      for (int column = 0; column < 5; ++column) grid->setItem(row, column, new QTableWidgetItem(rows[row][column]));
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(Statements)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportOnly)->Name("Report")->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportPaint)->Name("ReportPaint")->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Refresh)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(NaiveFill)->Arg(1000)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
