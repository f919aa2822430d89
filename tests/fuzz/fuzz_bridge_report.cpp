// libFuzzer over the bridge report parser: whatever follows ":brg2gw" on the
// gateway's line goes into a real bridge tab (offscreen widgets, in-memory
// database). Odd first bytes also blink the current bridge, so that downlink
// frames are built from whatever IDs the reports left in the grid.
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "BridgeMonitor.h"
#include "db/MonitorSchema.h"
#include "db/MySQLite.h"
#include "widgets/LedPanel.h"

namespace {

struct Harness {
  int argc = 1;
  char name[8] = "fuzz";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> application;
  std::unique_ptr<QWidget> tab;
  QTableWidget* grid = nullptr;
  QSlider* level = nullptr;
  QCheckBox* monitorBox = nullptr;
  QTimer refreshTimer;
  TSQLiteDB database{""};
  std::unique_ptr<TBridgeMonitor> monitor;
  std::size_t queued = 0;
  unsigned runs = 0;

  Harness() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    application = std::make_unique<QApplication>(argc, argv);
    tab = std::make_unique<QWidget>();
    grid = new QTableWidget(tab.get());
    level = new QSlider(tab.get());
    monitorBox = new QCheckBox(tab.get());
    auto* blink = new QPushButton(tab.get());
    auto* signalCheck = new QPushButton(tab.get());
    auto* lamp = new TLedPanel(tab.get());
    CreateSchema(database);
    monitor = std::make_unique<TBridgeMonitor>(
        database, TBridgeControls{grid, level, monitorBox, blink, signalCheck, lamp, &refreshTimer},
        [this](const std::string& command, const std::string& argument) {
          if (command != "%pkt_tx" || argument.size() < 22 || argument.size() % 2 != 0) std::abort();
          queued += argument.size();
        });
    monitor->SetupControls();
    monitorBox->setChecked(true);
  }
};

Harness& TheHarness() {
  static Harness harness;
  return harness;
}

}  // namespace

// The font libraries keep for good what the widgets make them load. Reports
// noted for the grid live on until the next pass of the event loop, so an
// input may end with more allocated than it began with; the leak check that
// follows must not count the font caches.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\nleak:libfreetype\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness& harness = TheHarness();
  const std::string args(reinterpret_cast<const char*>(data), size);
  harness.monitor->ParseBridgeReport(args);
  // The end of the event loop's pass, where the grid takes the report.
  if (size > 1 && (data[1] & 1)) QCoreApplication::processEvents();
  if (size > 0 && (data[0] & 1)) harness.monitor->bBRG_BlinkClick();
  // The grid must always keep its five columns and at least the one empty row.
  if (harness.grid->columnCount() != 5 || harness.grid->rowCount() < 1) std::abort();
  // A bounded table keeps every run as cheap as the first.
  if (++harness.runs % 512 == 0) {
    harness.monitor->ClearBridges();
    harness.monitor->RefreshBridges();
  }
  return 0;
}
