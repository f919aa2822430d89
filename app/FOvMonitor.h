#pragma once
// TFOvMonitor: the program's one window. It owns the serial port cCom, the
// settings store, the command queue and the four timers, talks to the gateway
// in its line protocol and shows what the gateway reports.
//
// The window is split by concern:
//   FOvMonitor.cpp     construction, handler binding, start-up, open/close,
//                      Refresh, the reset of all gateway displays
//   GatewayLink.cpp    command queue, send step with retransmission,
//                      keep-alive, receive step, dispatch by keyword
//   ReportParsers.cpp  ":info", ":io", ":cell", ":sim", ":wifi", ":state"
//   Parameters.cpp     parameter reads and writes, ":get", the command buttons
//   BridgeMonitor.cpp  the "Bridges" tab (TBridgeMonitor, owned here)
//   GnssMonitor.cpp    the "GNSS" tab: ":gnss" reports and the map
//   CloudAccounts.cpp  the cloud accounts: list, selection, add/update, remove
//   CloudRegistration.cpp  registration, summary, the cloud record grids
//   VersionState.cpp   the software version check and its panel
//   InstallationReport.cpp  "Save report..." and "Save profile..." (the report
//                      itself: ReportFacts, ReportFile; headless runs: Provisioning)
//
// Controls are reached through Form() (generated from resources/uOrvaneMonitor.ui);
// handlers carry the system's names and are connected by name in one binding
// table (FOvMonitor.cpp).
//
// Thread: GUI thread only. The serial component delivers its events here.

#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ParameterProfile.h"
#include "cloud/OvAccounts.h"

#include <set>

namespace Ui {
class uOrvaneMonitor;
}
class TAfComPort;
class TBridgeMonitor;
class TCloudWorker;
class TOrvaneAPI;
class TRegIniExtended;
class TSQLiteDB;
class QComboBox;

class TFOvMonitor : public QWidget {
  Q_OBJECT

 public:
  explicit TFOvMonitor(QWidget* parent = nullptr);
  // FormDestroy: frees the bridge tab's statements, the database, the settings
  // store and the command queue, in this order (the cloud client joins ahead
  // of the database).
  ~TFOvMonitor() override;

  Ui::uOrvaneMonitor& Form() { return *ui; }
  TAfComPort& Com() { return *cCom; }
  TRegIniExtended& SettingsStore() { return *Settings; }
  // The in-memory database; exists from start-up to destruction.
  TSQLiteDB& DB() { return *Database; }
  const std::string& AppVersionText() const { return AppVersion; }
  const std::deque<std::string>& PendingCommands() const { return CommandQueue; }
  const std::string& PendingReceived() const { return RxBuffer; }

  // Asks a Yes/No warning question; true for Yes. Replaceable so that tests
  // answer without a modal dialog.
  using QuestionHandler = std::function<bool(const std::string& text)>;
  void SetQuestionHandler(QuestionHandler handler) { m_askYesNo = std::move(handler); }

  // The cloud tab's dialogs, replaceable so that tests answer without a modal
  // dialog: an error with an OK button; a confirmation with Yes and Cancel
  // (true for Yes); a text entry with OK and Cancel (false when cancelled).
  struct TCloudDialogs {
    std::function<void(const std::string& text)> showError;
    std::function<bool(const std::string& text)> confirm;
    std::function<bool(const std::string& title, const std::string& prompt, std::string& value)> inputQuery;
  };
  void SetCloudDialogs(TCloudDialogs dialogs) { m_cloudDialogs = std::move(dialogs); }

  // Shows the one message about a settings file that cannot be read or written,
  // queued at start-up to appear once the window is up (a warning box by
  // default). Replaceable so that tests see the text without a modal dialog.
  void SetSettingsProblemHandler(std::function<void(const std::string& text)> handler) {
    m_showSettingsProblem = std::move(handler);
  }

  // Sees every trimmed, non-empty line from the gateway (acknowledgements and
  // reports) before the window handles it; the provisioning mode waits on it.
  // The view is valid during the call only.
  using LineObserver = std::function<void(std::string_view line)>;
  void SetLineObserver(LineObserver observer) { m_lineObserver = std::move(observer); }

  // The file names of "Save report..." and "Save profile..."; empty for
  // cancelled. Replaceable so that tests answer without a modal dialog.
  using SaveFileQuery = std::function<std::string(const std::string& title, const std::string& filter)>;
  void SetSaveFileQuery(SaveFileQuery query) { m_saveFileQuery = std::move(query); }

  // --- gateway link (GatewayLink.cpp) ---
  // The line is the command, or command + " " + argument when the argument is
  // not empty; sends at once when the send timer is idle.
  void QueueCommand(const std::string& command, const std::string& argument = std::string());
  void QueueCommandInt(const std::string& command, int value);
  void QueueCommandFlag(const std::string& command, bool flag);
  // Appends received bytes and hands every complete line to HandleLine. A line
  // that reaches kMaxLineLength bytes without a CR is dropped whole.
  void ReceiveBytes(const std::string& bytes);
  // One trimmed, non-empty line: acknowledgement or report.
  void HandleLine(const std::string& line);

  static constexpr std::size_t kMaxLineLength = 64 * 1024;

  // --- reports (ReportParsers.cpp) ---
  void ParseInfo(const std::string& text);
  void ParseIO(const std::string& text);
  void ParseCell(const std::string& text);
  void ParseSIM(const std::string& text);
  void ParseWiFi(const std::string& text);
  void ShowCloudState(const std::string& text);
  static std::string NetworkGenText(int technology);
  static std::string RegistrationText(int registration);

  // --- parameters (Parameters.cpp) ---
  void GetParameter(int number);
  void SetParameter(int number, const std::string& value);
  void ParseGet(const std::string& text);

  // --- bridges (forwarded to TBridgeMonitor; no-ops before start-up made it) ---
  void ParseBridgeReport(const std::string& text);
  void RefreshBridges();
  void ClearBridges();

  // --- GNSS (GnssMonitor.cpp) ---
  void ParseGNSS(const std::string& text);

  void ResetGatewayState();

  // --- cloud accounts (CloudAccounts.cpp) ---
  void FillAccountList();
  // Loads the account with its server's host and makes a new cloud client for
  // it; false (no account, no client) when it is absent or its server unknown.
  bool LoadAccount(const std::string& accountId);
  // False, with nothing listed or changed, when the settings write failed.
  bool SaveAccount(TOvAccount account);
  void RemoveAccount(const std::string& accountId);
  void MigrateLegacyAccount();
  void RebuildAccountsTable();
  const TOvAccount& CurrentAccount() const { return m_account; }
  // The selected account's client. It belongs to the cloud worker: the window only
  // hands it to jobs and never calls it itself.
  TOrvaneAPI* CloudClient() const { return m_cloudClient.get(); }

  // --- gateway registration and cloud record (CloudRegistration.cpp) ---
  // Every cloud operation runs on the cloud worker, one at a time in the order asked;
  // its outcome reaches the status line (and the grids) later, in the GUI thread.
  // Asking again for an operation that is still waiting or running does nothing.
  // An outcome for an account no longer selected changes only the status line.
  struct TCloudOutcome {
    bool ready = false;        // the client had (or got) a token
    bool invalid = false;      // the cloud refused the key
    std::string networkError;  // why no answer came ("" when one did)
    std::string answer;        // the answer body
  };
  void RegisterGW(const std::string& gatewayId);
  void DeleteGW(const std::string& gatewayId);
  // The status line for a register or delete outcome; the success flag.
  bool CheckCloudAnswer(const std::string& operation, const TCloudOutcome& outcome);
  void ShowSummary();
  void FetchGatewayRecord(const std::string& gatewayId);
  // No cloud operation waiting or running.
  bool CloudIdle() const { return m_cloudPending.empty(); }
  // Both grids from the stored rows of the gateway (empty ID: no rows).
  void RefreshCloudGrids(const std::string& gatewayId);
  void CustomGatewayID();

  // The parameters tab's values as a profile ("Save profile..."): APN, server,
  // owner account and WiFi network as read; WiFi password and SIM PIN only
  // withSecrets. Empty fields are left out.
  std::vector<TParameterSetting> ProfileSettings(bool withSecrets) const;

  // --- software version check (VersionState.cpp) ---
  void ShowVersionState();
  void CheckVersion(bool force);
  void OnVersionAnswer(int statusCode, const std::string& body);

  // Timers (all stopped at start; "enabled" is isActive()).
  QTimer tCommands;
  QTimer tRefreshBridges;
  QTimer tKeepAlive;
  QTimer tAutoDisplayGWInfo;

 signals:
  // Once per cloud operation, in the GUI thread, when its outcome is shown in the status line.
  // operation: "Register", "Delete", "Summary", "Record" (the fetch behind Read/Display) or "Action";
  // ok: the outcome the status line shows (lime = true, red = false); text: the status line text.
  void CloudOperationDone(const QString& operation, bool ok, const QString& text);

 public slots:
  // Handlers, bound by name to the controls (see the binding table).
  void bOpenClick();
  void bCloseClick();
  void bGetInfoClick();
  void cComPortOpen();
  void cComPortClose();
  void cComDataRecived();
  void tCommandsTimer();
  void tKeepAliveTimer();
  void vValueCopyClick();
  void lOKDblClick();
  void cShow_BRGClick();
  void cShow_GNSSClick();
  void tBridgeLevelChange();
  void tRefreshBridgesTimer();
  void bBRG_BlinkClick();
  void bBRG_SignalClick();

  void bWrite_PinClick();
  void bRead_APNClick();
  void bWrite_APNClick();
  void bRead_ICCIDClick();
  void bRead_OwnerIDClick();
  void bReset_OwnerIDClick();
  void bRead_ServerClick();
  void bWrite_ServerClick();
  void bRead_WiFiClick();
  void bWrite_WiFiClick();
  void bCmd_DefaultsClick();
  void bCmd_ConnectClick();
  void bCmd_RebootClick();

  void eCloud_AccountIDChange();
  void bCloud_AddAccountClick();
  void bCloud_RemoveAccountClick();
  void bCloud_RegisterGWClick();
  void bCloud_DeleteGWClick();
  void bCloud_CheckClick();
  void bCloud_GetGW1Click();
  void bCloud_GWInfo1Click();
  void lCloud_AccountIDDblClick();
  void cCloud_RegisterGWClick();
  void vGWIDDblClick();
  void pAppVerClick();

  // The installation report and the parameter profile (InstallationReport.cpp).
  void bSaveReportClick();
  void bSaveProfileClick();

 protected:
  // FormClose: the gateway is told to stop reporting before the port closes.
  void closeEvent(QCloseEvent* event) override;
  // The bridge grid's double click (see BindHandlers).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BindHandlers();
  void FormCreate();
  void FormClose();
  void LoadPortMap();
  // The settings file's troubles (SettingsProblems.cpp): a read error and the
  // writes that fail during start-up are said once, when start-up ends; later
  // failed writes go to the status line and, once per cause, to stderr.
  void WatchSettings();
  void SettingsWriteFailed(const std::string& message);
  void ReportSettingsAtStart();
  // The map's fixed appearance and its tile server from the settings.
  void SetupMap();
  // Opens the in-memory database and creates its tables; the cloud API hosts
  // may be pointed elsewhere in the settings (section "Endpoints", one value
  // per server name).
  void CreateSchema();
  // The "Bridges" tab on the database; its statements are prepared on first use.
  void CreateBridgeMonitor();
  // The server selector of the parameters tab, from the `servers` table.
  void FillServerLists();
  void WaitUntilSent(std::size_t byteCount);
  // The only ways the head of CommandQueue changes other than by appending to
  // an empty queue; both forget that the head was written.
  void PopHead();
  void ClearQueue();
  // The system's handler for a line kind; see HandleLine.
  void Dispatch(std::string_view keyword, std::string_view argument);
  // HandleLine on a view; the view is not used once a parser has been called.
  void HandleText(std::string_view text);
  // Empties RxBuffer with its offsets (the port opened, or an over-long line).
  void ClearReceived();

  std::unique_ptr<Ui::uOrvaneMonitor> ui;
  std::unique_ptr<TAfComPort> cCom;
  std::unique_ptr<TRegIniExtended> Settings;
  std::unique_ptr<TSQLiteDB> Database;
  // Holds prepared statements on Database, so it must go first.
  std::unique_ptr<TBridgeMonitor> Bridges;
  std::deque<std::string> CommandQueue;
  // The head of CommandQueue has been written at least once since it became
  // the head; only then can an acknowledgement match it.
  bool m_headWritten = false;
  std::string RxBuffer;
  // RxBuffer's first m_rxConsumed bytes are handled lines not yet compacted
  // away; up to m_rxScanned it holds no CR. m_receiveDepth counts nested
  // ReceiveBytes calls (see there).
  std::size_t m_rxConsumed = 0;
  std::size_t m_rxScanned = 0;
  int m_receiveDepth = 0;
  // Set while the rest of an over-long line is being skipped up to its CR.
  bool m_skippingLongLine = false;
  std::string AppVersion;
  QuestionHandler m_askYesNo;
  std::function<void(const std::string& text)> m_showSettingsProblem;
  std::string m_settingsStartProblem;
  std::string m_lastSettingsWriteError;
  bool m_startingUp = false;

  // The cloud side: the selected account (empty when none) and its client.
  using TCloudCall = std::function<std::string(TOrvaneAPI& client)>;
  using TCloudShow = std::function<void(const TCloudOutcome& outcome, bool current)>;
  // Queues `call` on the worker under `key` (ignored while that key is pending);
  // `show` gets the outcome and whether its account is still the selected one. Without
  // a client `show` runs at once with a not-ready outcome.
  void RunCloud(const std::string& operation, const std::string& key, TCloudCall call, TCloudShow show);
  // Status line text and colour, then CloudOperationDone.
  void ShowCloudOutcome(const std::string& operation, const std::string& text, bool ok);
  // The lamp turns red unless the outcome belongs to another account than the selected one.
  void MarkClientNotReady(bool current);
  // The fetched record into `gw`, `gw_info`, `gw_config` and the grids.
  void StoreGatewayRecord(const std::string& gatewayId, const std::string& answer);
  // "Read" and the lamp's double click: an action whose answer is not used.
  void SendGatewayAction(const std::string& gatewayId, const std::string& action);
  void FillServerList(QComboBox* list, bool emptyFirst);
  // The listed account whose ID equals this one but for ASCII letter case
  // (the exact one first); "" when there is none.
  std::string ListedAccountId(const std::string& accountId);
  void StartUpCloudAccounts();
  TOvAccount m_account;
  std::shared_ptr<TOrvaneAPI> m_cloudClient;
  std::unique_ptr<TCloudWorker> m_cloudWorker;
  std::set<std::string> m_cloudPending;
  TCloudDialogs m_cloudDialogs;
  LineObserver m_lineObserver;
  SaveFileQuery m_saveFileQuery;
  // The report and profile controls, made in code beside the resource's.
  void CreateReportControls();
};
