// What one bridge report costs the GUI thread with 100, 1000 and 5000 bridges
// in the table:
//   Statements  the bare INSERT OR IGNORE + UPDATE of a report through the
//               SQLite layer, no widgets (the floor);
//   Report      ParseBridgeReport and the end of its pass of the event loop:
//               decode, both statements, the grid update, one report per pass;
//   Burst       the same with 8 reports per pass (a serial read that brought
//               several lines), cost per report;
//   ReportPaint one report per pass with the tab on screen (offscreen platform)
//               and the repaint that follows;
//   Refresh     RefreshBridges alone (what tRefreshBridges does every second);
//   NaiveFill   filling the grid with new items every time, for comparison
//               with the in-place refresh.
// Schedule runs 5000 bridges each reporting every 30 s (167 reports a second,
// in small bursts) for 3 s of real time with the tab on screen and monitoring
// on (the grid reloaded every second for "Time"): the share of the GUI thread
// it takes and the longest delay from a report's arrival to the grid showing it.
// The summary gives each cost as a ratio of the bare statements.
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
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>
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

void Report(benchmark::State& state, bool painted, int burst) {
  const int bridges = static_cast<int>(state.range(0));
  BridgeTab setup(bridges);
  const std::vector<std::string> reports = Reports(bridges);
  if (painted) {
    setup.tab->resize(520, 260);
    setup.tab->show();
    QApplication::processEvents();
  }
  // Reports of 1 s ago for every bridge: "Time" does not turn over within a pass.
  int next = 0;
  for (auto _ : state) {
    for (int i = 0; i < burst; ++i) {
      setup.monitor->ParseBridgeReport(reports[next]);
      next = (next + 1) % bridges;
    }
    QApplication::processEvents();
  }
  state.SetItemsProcessed(state.iterations() * burst);
}

void ReportOnly(benchmark::State& state) { Report(state, false, 1); }
void Burst(benchmark::State& state) { Report(state, false, 8); }
void ReportPaint(benchmark::State& state) { Report(state, true, 1); }

struct TScheduleResult {
  double busyShare = 0;
  double maxDelayMs = 0;
  double reports = 0;
};
TScheduleResult g_schedule;

void Schedule(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const int bridges = static_cast<int>(state.range(0));
  BridgeTab setup(bridges);
  const std::vector<std::string> reports = Reports(bridges);
  setup.tab->resize(520, 260);
  setup.tab->show();
  QObject::connect(&setup.refreshTimer, &QTimer::timeout, [&] { setup.monitor->tRefreshBridgesTimer(); });
  QApplication::processEvents();
  const auto period = std::chrono::duration<double>(30.0 / bridges);
  for (auto _ : state) {
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(3);
    Clock::duration busy{};
    double maxDelay = 0;
    int next = 0, sent = 0;
    while (Clock::now() < end) {
      const auto passStart = Clock::now();
      std::vector<Clock::time_point> due;
      // Every report whose time has come, as one serial read brings them.
      while (start + std::chrono::duration_cast<Clock::duration>(period * sent) <= passStart) {
        due.push_back(start + std::chrono::duration_cast<Clock::duration>(period * sent));
        setup.monitor->ParseBridgeReport(reports[next]);
        next = (next + 1) % bridges;
        ++sent;
      }
      QApplication::processEvents();
      const auto passEnd = Clock::now();
      if (!due.empty() || passEnd - passStart > std::chrono::microseconds(200)) busy += passEnd - passStart;
      for (const auto& at : due) maxDelay = std::max(maxDelay, std::chrono::duration<double, std::milli>(passEnd - at).count());
      const auto nextDue = start + std::chrono::duration_cast<Clock::duration>(period * sent);
      if (nextDue > Clock::now()) std::this_thread::sleep_until(std::min(nextDue, end));
    }
    g_schedule = {std::chrono::duration<double>(busy).count() / std::chrono::duration<double>(Clock::now() - start).count(),
                  maxDelay, static_cast<double>(sent)};
  }
  state.counters["busy_percent"] = g_schedule.busyShare * 100;
  state.counters["max_delay_ms"] = g_schedule.maxDelayMs;
  state.counters["reports"] = g_schedule.reports;
}

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
BENCHMARK(Burst)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportPaint)->Name("ReportPaint")->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Refresh)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(NaiveFill)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Schedule)->Arg(5000)->Iterations(1)->Unit(benchmark::kMillisecond);

// Time per report of each run, for the ratios.
class TRecorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (!run.error_occurred && run.iterations > 0) m_usPerItem[run.benchmark_name()] = PerItem(run);
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> m_usPerItem;

 private:
  static double PerItem(const Run& run) {
    const auto items = run.counters.find("items_per_second");
    if (items != run.counters.end() && items->second.value > 0) return 1e6 / items->second.value;
    return run.GetAdjustedRealTime();
  }
};

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRecorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const char* n : {"100", "1000", "5000"}) {
    const double bare = reporter.m_usPerItem[std::string("Statements/") + n];
    if (bare <= 0) continue;
    std::printf("%s bridges: bare statements %.1f us/report; report %.1f us (%.1fx), in bursts of 8 %.1f us (%.1fx, "
                "target at most 10x at 1000)\n",
                n, bare, reporter.m_usPerItem[std::string("Report/") + n], reporter.m_usPerItem[std::string("Report/") + n] / bare,
                reporter.m_usPerItem[std::string("Burst/") + n], reporter.m_usPerItem[std::string("Burst/") + n] / bare);
  }
  if (g_schedule.reports > 0)
    std::printf("5000 bridges every 30 s: GUI thread busy %.1f %% (target at most 10 %%), longest delay %.1f ms "
                "(target at most 100 ms), %g reports\n",
                g_schedule.busyShare * 100, g_schedule.maxDelayMs, g_schedule.reports);
  return 0;
}
