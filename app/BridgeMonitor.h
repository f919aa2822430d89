#pragma once
// TBridgeMonitor: the "Bridges" tab of the main window. It decodes the
// gateway's ":brg2gw" reports into the `brg` table, shows that table in the
// bridge grid (filtered by the signal track bar) and builds the downlink frames
// that make a bridge blink or check its signal, which go out through the
// window's command queue as "%pkt_tx".
//
// The window owns one TBridgeMonitor and forwards the tab's events to it; the
// monitor only borrows the controls, the connection and the queue. Everything
// borrowed must outlive it (the window destroys it before its widgets and its
// database).
//
// The statements are prepared once, on first use, and reused for every report:
// a gateway near many bridges sends a report per bridge every few seconds.
//
// A report does not reload the whole grid. The bridges it touched are noted
// and, once per pass of the event loop, only their rows are read and only the
// cells that changed are set (rows inserted or removed in ORDER BY `MAC`
// order). The grid is brought up to date before it is painted, before Blink or
// Check signal reads it and before it is copied, so whatever the user sees or
// acts on is what RefreshBridges would show at that moment. A full reload is
// still made when a row update cannot give that: "Time" counting seconds
// since the last full reload, a frame that stored nothing, many bridges at once.
//
// Failures: a malformed report is ignored (or decoded with zeros) and shows
// nothing; a failing statement leaves the table as it was. Nothing throws.
//
// Thread: GUI thread only.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/MySQLite.h"

class QCheckBox;
class QObject;
class QPushButton;
class QSlider;
class QTableWidget;
class QTimer;
class TLedPanel;

// The controls of the tab that the monitor reads and writes. None is owned.
struct TBridgeControls {
  QTableWidget* sBridges = nullptr;    // the bridge grid
  QSlider* tBridgeLevel = nullptr;     // minimum RSSI_RX shown, dBm
  QCheckBox* cShow_BRG = nullptr;      // "Monitor bridges"
  QPushButton* bBRG_Blink = nullptr;   // "Blink"
  QPushButton* bBRG_Signal = nullptr;  // "Check signal" (kept hidden)
  TLedPanel* lBRG_Rx = nullptr;        // flashes for each stored report
  QTimer* tRefreshBridges = nullptr;   // reloads the grid every second while monitoring
};

class TBridgeMonitor {
 public:
  // Queues one command line for the gateway: command, or command + " " +
  // argument when the argument is not empty (the window's QueueCommand).
  using TQueueCommand = std::function<void(const std::string& command, const std::string& argument)>;
  // One pseudo-random byte for a downlink frame; drawn anew for every frame.
  using TRandomByte = std::function<std::uint8_t()>;

  // The connection must already hold the schema (CreateSchema). An empty
  // randomByte uses a PRNG seeded from the system's entropy source.
  TBridgeMonitor(TSQLiteDB& database, const TBridgeControls& controls, TQueueCommand queueCommand,
                 TRandomByte randomByte = {});
  ~TBridgeMonitor();
  TBridgeMonitor(const TBridgeMonitor&) = delete;
  TBridgeMonitor& operator=(const TBridgeMonitor&) = delete;

  // The tab's fixed appearance: five columns "Bridge", "Version", "Type",
  // "Time", "RX" of 88, 58, 32, 52, 32 pixels (resizable), rows of 21 pixels,
  // whole-row single selection, no editing, one empty row; the track bar at
  // -120..0 in steps of 5 showing "-120"; the "Check signal" button hidden,
  // both buttons disabled; the lamp lit in lime; the refresh timer at 1000 ms,
  // stopped. Called once, when the window is built.
  void SetupControls();

  // One ":brg2gw" argument text: "<unused> <frame as hex> <signal magnitude>".
  // Frames shorter than 27 bytes (after dropping the 4-byte advertising header
  // of a 31-byte frame) or not starting 00 00 EE are ignored without a refresh.
  void ParseBridgeReport(const std::string& args);
  // Reloads the grid from `brg` and sets the refresh timer and the buttons.
  void RefreshBridges();
  // Brings the grid up to date with the reports noted since the last update
  // (runs by itself at the end of the event loop's pass and before a paint).
  void FlushRefresh();
  bool RefreshPending() const { return m_pending; }
  // The header and the selected rows as tab-separated lines (Ctrl+C on the grid).
  std::string SelectedRowsText();
  // Forgets every bridge (at every reset of the gateway state). The grid is
  // not reloaded here: the caller refreshes it.
  void ClearBridges();
  // Queues "%pkt_tx" with the downlink frame for bridge id (12 hex digits):
  // header, the bridge's API version (7 when unknown), a random byte, the ID
  // bytes, command, then suffix's bytes.
  void SendBridgePacket(const std::string& id, std::uint8_t command, const std::string& suffix);

  // Handler bodies the window forwards to.
  //
  // "Monitor bridges" changed: tells the gateway, reloads the grid. The window
  // unticks "Monitor GNSS" first when the box is now ticked (that box's own
  // handler then sends "%show_gnss 0" ahead of "%show_brg 1").
  void cShow_BRGClick();
  void tBridgeLevelChange();
  void tRefreshBridgesTimer() { RefreshBridges(); }
  // Also the grid's double click.
  void bBRG_BlinkClick();
  void bBRG_SignalClick();

  // The bridge ID in column 0 of the grid's current row; the first row when
  // none is current yet, as the grid starts on its first row. The grid is
  // brought up to date first.
  std::string SelectedBridge();

 private:
  void EnsureHeader();
  void FillGrid(const std::vector<std::vector<QString>>& rows);
  // Notes a changed bridge (or, with an empty id, that only a full reload will
  // do) and asks for one update at the end of this pass of the event loop.
  void RequestRefresh(const std::string& id);
  // Reads the bridge's row and inserts, updates or removes it in the grid;
  // false when a full reload is needed instead (the second changed).
  bool UpdateRow(const std::string& id, bool monitoring);
  // The grid's row of id, or where it would be inserted (negative: -1 - place).
  int FindRow(const QString& id) const;
  int ShownRows() const;
  void SetTimerAndButtons(bool hasRows, bool monitoring);
  std::string IdAtCurrentRow() const;
  // Makes the row of bridge id current again after the rows moved.
  void KeepSelection(const std::string& id);
  // Prepared on first use and kept; false when the statement does not compile.
  static bool Ready(TSQLiteQuery& query);

  TSQLiteDB& m_database;
  TBridgeControls m_controls;
  TQueueCommand m_queueCommand;
  TRandomByte m_randomByte;

  TSQLiteQuery m_insertBridge;
  TSQLiteQuery m_updateReceived;
  TSQLiteQuery m_updateInformation;
  TSQLiteQuery m_updateSignalTx;
  TSQLiteQuery m_clearSignalTx;
  TSQLiteQuery m_selectBridges;
  TSQLiteQuery m_selectApiVersion;
  TSQLiteQuery m_selectBridge;

  // Bridges reported since the grid was last brought up to date.
  std::set<std::string> m_changed;
  bool m_pending = false;
  bool m_fullReload = false;
  // UNIXEPOCH() of the last full reload: while monitoring, "Time" of the rows
  // not reported is right only within that second.
  std::int64_t m_reloadSecond = -1;
  // Receives the queued update and watches the grid's paints and keys.
  std::unique_ptr<QObject> m_gate;
};
