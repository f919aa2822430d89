// The main window: construction, the binding of handlers by name, start-up,
// opening and closing the port, the Refresh request and the reset of all
// gateway displays.
#include "FOvMonitor.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QMessageBox>
#include <QMetaMethod>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTableWidget>
#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "BridgeMonitor.h"
#include "GatewayTrace.h"
#include "cloud/CloudWorker.h"
#include "cloud/GatewayCloud.h"
#include "cloud/OrvaneApi.h"
#include "db/MonitorSchema.h"
#include "db/MySQLite.h"
#include "serial/AfComPort.h"
#include "serial/AfPortControls.h"
#include "serial/PortMap.h"
#include "support/MyConvert.h"
#include "support/MyFunctions.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/Clipboard.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

const char* const kSettingsKey = "Software\\Qel\\Orvane Monitor";

// The window resource's event bindings: control, its signal, the handler.
// Connected by name so that a renamed control or handler fails at start-up
// instead of leaving a dead button.
struct Binding {
  const char* control;
  const char* signal;
  const char* handler;
};

const Binding kBindings[] = {
    {"bOpen", "clicked()", "bOpenClick()"},
    {"bClose", "clicked()", "bCloseClick()"},
    {"bGetInfo", "clicked()", "bGetInfoClick()"},
    {"lOK", "doubleClicked()", "lOKDblClick()"},
    {"vGWID", "clicked()", "vValueCopyClick()"},
    {"vHardware", "clicked()", "vValueCopyClick()"},
    {"vVersion", "clicked()", "vValueCopyClick()"},
    {"vGNSS_Date", "clicked()", "vValueCopyClick()"},
    {"vGNSS_Sat", "clicked()", "vValueCopyClick()"},
    // A check box's click handler also runs when the program changes the
    // state (the reset unticks the boxes), which is what `toggled` gives.
    {"cShow_BRG", "toggled(bool)", "cShow_BRGClick()"},
    {"cShow_GNSS", "toggled(bool)", "cShow_GNSSClick()"},
    {"tBridgeLevel", "valueChanged(int)", "tBridgeLevelChange()"},
    {"bBRG_Blink", "clicked()", "bBRG_BlinkClick()"},
    // The grid's double click is bound in BindHandlers: it counts anywhere
    // on the grid, not only on a cell.
    {"bBRG_Signal", "clicked()", "bBRG_SignalClick()"},
    {"bWrite_Pin", "clicked()", "bWrite_PinClick()"},
    {"bRead_APN", "clicked()", "bRead_APNClick()"},
    {"bWrite_APN", "clicked()", "bWrite_APNClick()"},
    {"bRead_ICCID", "clicked()", "bRead_ICCIDClick()"},
    {"bRead_OwnerID", "clicked()", "bRead_OwnerIDClick()"},
    {"bReset_OwnerID", "clicked()", "bReset_OwnerIDClick()"},
    {"bRead_Server", "clicked()", "bRead_ServerClick()"},
    {"bWrite_Server", "clicked()", "bWrite_ServerClick()"},
    {"bRead_WiFi", "clicked()", "bRead_WiFiClick()"},
    {"bWrite_WiFi", "clicked()", "bWrite_WiFiClick()"},
    {"bCmd_Defaults", "clicked()", "bCmd_DefaultsClick()"},
    {"bCmd_Connect", "clicked()", "bCmd_ConnectClick()"},
    {"bCmd_Reboot", "clicked()", "bCmd_RebootClick()"},
    // The account list's change is the user's choice only; refills and
    // selections by program run the handler themselves where they must.
    {"eCloud_AccountID", "activated(int)", "eCloud_AccountIDChange()"},
    {"bCloud_AddAccount", "clicked()", "bCloud_AddAccountClick()"},
    {"bCloud_RemoveAccount", "clicked()", "bCloud_RemoveAccountClick()"},
    {"cCloud_RegisterGW", "clicked()", "cCloud_RegisterGWClick()"},
    {"bCloud_RegisterGW", "clicked()", "bCloud_RegisterGWClick()"},
    {"bCloud_DeleteGW", "clicked()", "bCloud_DeleteGWClick()"},
    {"bCloud_Check", "clicked()", "bCloud_CheckClick()"},
    {"lCloud_AccountID", "doubleClicked()", "lCloud_AccountIDDblClick()"},
    {"bCloud_GetGW1", "clicked()", "bCloud_GetGW1Click()"},
    {"bCloud_GetGW2", "clicked()", "bCloud_GetGW1Click()"},
    {"bCloud_GWInfo1", "clicked()", "bCloud_GWInfo1Click()"},
    // The parameters tab's "Display" shows the same record as the information
    // tab's: one fetch fills both grids.
    {"bCloud_GWInfo2", "clicked()", "bCloud_GWInfo1Click()"},
    {"vGWID", "doubleClicked()", "vGWIDDblClick()"},
    {"pAppVer", "clicked()", "pAppVerClick()"},
};

}  // namespace

TFOvMonitor::TFOvMonitor(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::uOrvaneMonitor>()),
      cCom(std::make_unique<TAfComPort>()) {
  ui->setupUi(this);
  // A single fixed border: the layout is drawn for this client size.
  setFixedSize(size());
  // Opens in the centre of the screen; left alone, window managers place a new
  // window where they like (an X server without one puts it in the corner).
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  // Nothing on this tab is written to; it stays in the resource but is not shown.
  ui->PageControl1->setTabVisible(ui->PageControl1->indexOf(ui->tDebug), false);
  // The six tab captions were drawn for a narrower font than this platform's
  // sans; a condensed face and slimmer tabs keep them all in view without scroll arrows.
  QFont tabFont = ui->PageControl1->tabBar()->font();
  tabFont.setStretch(QFont::Condensed);
  ui->PageControl1->tabBar()->setFont(tabFont);
  ui->PageControl1->tabBar()->setStyleSheet(QStringLiteral(
      "QTabBar::tab { padding: 3px 7px; margin-top: 2px; border: 1px solid palette(mid); border-bottom: none;"
      " border-top-left-radius: 3px; border-top-right-radius: 3px; background: palette(button); }"
      "QTabBar::tab:selected { margin-top: 0px; background: palette(window); }"));

  // Its name appears in the serial component's error texts.
  cCom->setObjectName(QStringLiteral("cCom"));
  cCom->SetBaudRate(br9600);

  tCommands.setInterval(1000);  // changed at run time by the send step
  // Qt's default coarse timers may fire a few percent early; the gateway is
  // promised a full second before a retransmission and 100 ms between commands.
  tCommands.setTimerType(Qt::PreciseTimer);
  tKeepAlive.setTimerType(Qt::PreciseTimer);
  tRefreshBridges.setInterval(1000);
  tKeepAlive.setInterval(60000);
  tAutoDisplayGWInfo.setInterval(1500);

  m_askYesNo = [this](const std::string& text) {
    return QMessageBox::warning(this, QStringLiteral("Warning"), QString::fromStdString(text),
                                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };

  m_cloudWorker = std::make_unique<TCloudWorker>();
  BindHandlers();
  CreateReportControls();
  FormCreate();
}

TFOvMonitor::~TFOvMonitor() {
  // FormDestroy, in this order: the cloud worker (its requests given up at
  // once) and client, the database, the settings store, the command queue. The
  // bridge tab's prepared statements must be finalized before their connection closes.
  m_cloudWorker.reset();
  m_cloudClient.reset();
  Bridges.reset();
  Database.reset();
  Settings.reset();
  CommandQueue.clear();
  // The port goes before the widgets it reports to (it closes without events).
  cCom.reset();
}

void TFOvMonitor::BindHandlers() {
  const QMetaObject* self = metaObject();
  for (const Binding& binding : kBindings) {
    QObject* control = findChild<QObject*>(QString::fromLatin1(binding.control));
    if (!control) throw std::logic_error(std::string("window resource has no control ") + binding.control);
    const int signal = control->metaObject()->indexOfSignal(binding.signal);
    const int handler = self->indexOfSlot(binding.handler);
    if (signal < 0 || handler < 0 ||
        !QObject::connect(control, control->metaObject()->method(signal), this, self->method(handler)))
      throw std::logic_error(std::string("cannot bind ") + binding.control + "." + binding.signal + " to " +
                             binding.handler);
  }

  ui->sBridges->viewport()->installEventFilter(this);

  connect(&tCommands, &QTimer::timeout, this, &TFOvMonitor::tCommandsTimer);
  connect(&tKeepAlive, &QTimer::timeout, this, &TFOvMonitor::tKeepAliveTimer);
  connect(&tRefreshBridges, &QTimer::timeout, this, &TFOvMonitor::tRefreshBridgesTimer);
  connect(&tAutoDisplayGWInfo, &QTimer::timeout, this, &TFOvMonitor::bCloud_GWInfo1Click);

  cCom->OnDataRecived = [this](QObject*, int) { cComDataRecived(); };
  cCom->OnPortOpen = [this](QObject*) { cComPortOpen(); };
  cCom->OnPortClose = [this](QObject*) { cComPortClose(); };
}

void TFOvMonitor::FormCreate() {
  // 1-2. The program's own version in the caption.
  AppVersion = FileVersionText(ProgramFileName(), false);
  setWindowTitle(windowTitle() + " v" + QString::fromStdString(AppVersion));
  // 3. The settings store; the port map in it decides what the selector lists.
  Settings = std::make_unique<TRegIniExtended>(kSettingsKey);
  WatchSettings();
  LoadPortMap();
  SetupMap();
  // Only ports that exist are listed, those in use drawn grey.
  ui->cComPort->SetOptions({pcCheckExist, pcHighlightOpen});
  ui->cComPort->SetMaxComPorts(1025);
  ui->cComPort->SetComPort(cCom.get());
  // The list preselects its first port; without this the port would still be
  // COM0 and Open on the shown selection would fail.
  if (cCom->ComNumber() == 0 && ui->cComPort->ComNumber() != 0) cCom->SetComNumber(ui->cComPort->ComNumber());
  // 4. No cloud client yet.
  // 5. The software version check, when a week has passed.
  CheckVersion(false);
  // 6. The in-memory database with its tables, and the bridge tab on it.
  CreateSchema();
  CreateBridgeMonitor();
  // 7. The server selectors.
  FillServerLists();
  // 8-9. The accounts from the settings, and the last selected one.
  StartUpCloudAccounts();
  // 10.
  ui->cCloud_RegisterGW->setChecked(Settings->ReadInteger({}, kAutoRegisterValue, 0) > 0);
  // 11. The command queue starts empty.
  ClearQueue();
  // 12.
  ResetGatewayState();
  ReportSettingsAtStart();
}

void TFOvMonitor::CreateSchema() {
  TServerHostOverrides hosts;
  for (auto& [name, host] : Settings->ReadSectionValues("Endpoints")) hosts[name] = host;
  Database = std::make_unique<TSQLiteDB>(std::string());
  ::CreateSchema(*Database, hosts);
}

void TFOvMonitor::CreateBridgeMonitor() {
  Bridges = std::make_unique<TBridgeMonitor>(
      *Database,
      TBridgeControls{ui->sBridges, ui->tBridgeLevel, ui->cShow_BRG, ui->bBRG_Blink, ui->bBRG_Signal, ui->lBRG_Rx,
                      &tRefreshBridges},
      [this](const std::string& command, const std::string& argument) { QueueCommand(command, argument); });
  Bridges->SetupControls();
  // The ID column was drawn for a narrower font than this platform's sans;
  // widened to show the twelve digits of an ID whole (the grid has room).
  QTableWidget* grid = ui->sBridges;
  const QFontMetrics metrics(grid->font());
  int digitWidth = 0;
  for (const QChar digit : QStringLiteral("0123456789ABCDEF"))
    digitWidth = std::max(digitWidth, metrics.horizontalAdvance(digit));
  const int cellMargins = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 2;
  grid->setColumnWidth(0, std::max(grid->columnWidth(0), 12 * digitWidth + cellMargins));
}

void TFOvMonitor::FillServerLists() {
  FillServerList(ui->cCloudAdd_Server, false);
  FillServerList(ui->cServer, true);
}

void TFOvMonitor::FillServerList(QComboBox* list, bool emptyFirst) {
  list->clear();
  if (emptyFirst) list->addItem(QString());
  TSQLiteQuery query(*Database);
  query.SQL = {"SELECT *", "FROM `servers`", "ORDER BY `id`"};
  for (bool row = query.Open(); row; row = query.Next())
    list->addItem(ToQString(query.FieldValue("name").ToString()));
  list->setCurrentIndex(0);
}

// Ports named in the settings ("COM1" = "/dev/pts/5") take precedence over the
// built-in table; the port selector lists what the map gives.
void TFOvMonitor::LoadPortMap() {
  std::map<int, std::string> ports;
  for (const auto& [name, path] : Settings->ReadSectionValues("Ports")) {
    if (name.size() < 4 || UpperText(name.substr(0, 3)) != "COM") continue;
    const int number = TextToInt(name.substr(3), 0);
    if (number > 0) ports[number] = path;
  }
  PortMap::SetExplicitPorts(std::move(ports));
}

bool TFOvMonitor::eventFilter(QObject* watched, QEvent* event) {
  // The area below the last row is the grid's too; the press before the
  // double click has already made the row under the mouse current.
  if (watched == ui->sBridges->viewport() && event->type() == QEvent::MouseButtonDblClick) bBRG_BlinkClick();
  return QWidget::eventFilter(watched, event);
}

void TFOvMonitor::closeEvent(QCloseEvent* event) {
  FormClose();
  QWidget::closeEvent(event);
}

void TFOvMonitor::FormClose() { bCloseClick(); }

void TFOvMonitor::bOpenClick() {
  if (ui->cComPort->currentIndex() < 0) return;
  // Closing first fires the close event even for a closed port, so the Close
  // button follows; opening an open port again starts over cleanly.
  cCom->ClosePort();
  ResetGatewayState();
  // An open failure propagates to the application's error message.
  cCom->OpenPort();
}

void TFOvMonitor::bCloseClick() {
  if (cCom->IsPortOpen()) {
    try {
      // Directly, not queued: the gateway stops reporting before the port goes.
      const std::string farewell = "%show_off\r";
      cCom->WriteText(farewell);
      TraceGatewaySent("%show_off");
      WaitUntilSent(farewell.size());
    } catch (...) {
      // The port is closed regardless.
    }
  }
  cCom->ClosePort();
}

// Closing purges whatever the write thread has not yet put on the line, which
// would often swallow the farewell just written. Wait (briefly, bounded) until
// the output buffer is empty and the bytes have had their time on the wire.
void TFOvMonitor::WaitUntilSent(std::size_t byteCount) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(500);
  while (cCom->IsPortOpen() && cCom->OutBufferFree() < cCom->OutBufSize() && steady_clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(1));
  // Ten bit times per byte at 9600 baud, plus a little for the driver.
  std::this_thread::sleep_for(microseconds(byteCount * 10 * 1000000 / 9600) + milliseconds(2));
}

void TFOvMonitor::cComPortOpen() {
  ClearReceived();
  ui->bClose->setEnabled(true);
  ResetGatewayState();
  bGetInfoClick();
}

void TFOvMonitor::cComPortClose() { ui->bClose->setEnabled(false); }

void TFOvMonitor::bGetInfoClick() {
  QueueCommand("%info");
  QueueCommand("%show_off");
  QueueCommandFlag("%show_cell", true);
  QueueCommandFlag("%show_state", true);
  QueueCommandInt("%show_io", 5);
  GetParameter(97);
  GetParameter(5640);
  GetParameter(5641);
}

void TFOvMonitor::vValueCopyClick() {
  if (const auto* panel = qobject_cast<const TPanel*>(sender())) CopyToClipboard(panel->Caption());
}

void TFOvMonitor::lOKDblClick() {
  // Bound in the window resource but deliberately without an action.
}

void TFOvMonitor::cShow_BRGClick() {
  // Bridge and GNSS reports exclude each other; unticking GNSS sends its "0" first.
  if (ui->cShow_BRG->isChecked()) ui->cShow_GNSS->setChecked(false);
  if (Bridges) Bridges->cShow_BRGClick();
}

void TFOvMonitor::cShow_GNSSClick() {
  const bool ticked = ui->cShow_GNSS->isChecked();
  if (ticked) ui->cShow_BRG->setChecked(false);
  QueueCommandFlag("%show_gnss", ticked);
}

// The bridge tab's handlers. The bindings are made before start-up creates
// the monitor, and a control may signal in between.
void TFOvMonitor::tBridgeLevelChange() {
  if (Bridges) Bridges->tBridgeLevelChange();
}
void TFOvMonitor::tRefreshBridgesTimer() { RefreshBridges(); }
void TFOvMonitor::bBRG_BlinkClick() {
  if (Bridges) Bridges->bBRG_BlinkClick();
}
void TFOvMonitor::bBRG_SignalClick() {
  if (Bridges) Bridges->bBRG_SignalClick();
}
void TFOvMonitor::ParseBridgeReport(const std::string& text) {
  if (Bridges) Bridges->ParseBridgeReport(text);
}
void TFOvMonitor::RefreshBridges() {
  if (Bridges) Bridges->RefreshBridges();
}
void TFOvMonitor::ClearBridges() {
  if (Bridges) Bridges->ClearBridges();
}

void TFOvMonitor::ResetGatewayState() {
  // 1. Nothing pending is sent to the gateway we are about to (re)meet.
  ClearQueue();
  tCommands.stop();

  // 2. Identity, parameters read from the gateway, GNSS values.
  ui->vGWID->SetCaption("");
  ui->vHardware->SetCaption("");
  ui->vVersion->SetCaption("");
  for (QLineEdit* gatewayValue : {ui->eICCID, ui->eOwnerID, ui->eAPN}) ShowBytes(gatewayValue, std::string());
  ui->vGNSS_Date->SetCaption("");
  ui->vGNSS_Sat->SetCaption("");
  ui->lGNSS_Valid->SetCaption("");
  ui->lGNSS_Valid->SwitchOff();
  ui->mMap->ClearPoints(true);

  // 3. Supply and ignition.
  ui->vVIN->SetCaption("");
  ui->vVBAT->SetCaption("");
  ui->vIgnition->SetCaption("");
  ui->vIgnition->SetEnabled(false);

  // 4. Status line.
  ui->vStatus->SetCaption("");

  // 5. Connectivity.
  ui->vNetwork->SwitchOff();
  ui->vNetwork->setToolTip(QString());
  ui->vNetwork->SetCaption("");
  ui->vNetworkGen->SetCaption("");
  ui->pSignalLevel->setValue(ui->pSignalLevel->minimum());
  // Its hint names the last level; left alone it would contradict the bar.
  ui->pSignalLevel->setToolTip(QString());

  // 6. Cloud state lamps.
  ShowCloudState("");

  // 7. Reports switched off; a ticked box's handler queues its "0" command.
  ui->cShow_BRG->setChecked(false);
  ui->cShow_GNSS->setChecked(false);

  // 8. Only bridges heard on this connection are listed.
  ClearBridges();
  RefreshBridges();
  // 9. No gateway, no cloud record.
  RefreshCloudGrids("");
}
