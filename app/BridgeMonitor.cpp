#include "BridgeMonitor.h"

#include <QCheckBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <random>

#include "support/MyConvert.h"
#include "support/MyFunctions.h"
#include "widgets/Clipboard.h"
#include "widgets/Color.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

constexpr int kColumnCount = 5;
const char* const kHeaders[kColumnCount] = {"Bridge", "Version", "Type", "Time", "RX"};
constexpr int kColumnWidths[kColumnCount] = {88, 58, 32, 52, 32};
constexpr int kRowHeight = 21;
constexpr int kLevelMinimum = -120;
constexpr int kLevelStep = 5;
constexpr int kRefreshIntervalMs = 1000;

// A received frame is BLE service data. A 31-byte frame still carries the
// advertising header (length, type 0x16, 16-bit UUID) in front of the payload.
constexpr std::size_t kFrameWithHeader = 31;
constexpr std::size_t kHeaderLength = 4;
constexpr std::size_t kMinimumFrame = 27;
const std::string kFramePrefix("\x00\x00\xEE", 3);

constexpr std::uint8_t kTypeInformation = 2;
constexpr std::uint8_t kApiInformation = 7;
constexpr std::uint8_t kTypeAnswer = 7;
constexpr std::uint8_t kAnswerSignalCheck = 8;

// Downlink header; its first byte is fixed at 0x1E whatever the frame's length,
// which is what the bridges expect.
const std::string kDownlinkHeader("\x1E\x16\xAF\xFD\x00\x00\xED\x07", 8);
constexpr std::int32_t kDefaultApiVersion = 7;
constexpr std::uint8_t kCommandBlink = 2;
constexpr std::uint8_t kCommandSignalCheck = 8;

std::string IdText(const std::string& frame, std::size_t offset) {
  return BytesToHex(frame.substr(offset, 6), false);
}

std::uint8_t ByteAt(const std::string& frame, std::size_t offset) {
  return static_cast<std::uint8_t>(frame[offset]);
}

// Past this many changed bridges in one pass a full reload is the cheaper way.
std::size_t RowUpdateLimit(int shownRows) { return std::max<std::size_t>(8, static_cast<std::size_t>(shownRows) / 8); }

// Runs the queued grid update, brings the grid up to date before it is painted
// and copies the selected rows on Ctrl+C.
class TRefreshGate : public QObject {
 public:
  TRefreshGate(TBridgeMonitor& monitor, QTableWidget* grid) : m_monitor(monitor) {
    grid->installEventFilter(this);
    grid->viewport()->installEventFilter(this);
  }

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && m_monitor.RefreshPending()) {
      m_monitor.FlushRefresh();
    } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
      CopyToClipboard(m_monitor.SelectedRowsText());
      return true;
    }
    return false;
  }

 private:
  TBridgeMonitor& m_monitor;
};

TBridgeMonitor::TRandomByte SystemRandomByte() {
  std::random_device entropy;
  return [generator = std::mt19937(entropy())]() mutable {
    return static_cast<std::uint8_t>(generator() & 0xFF);
  };
}

}  // namespace

TBridgeMonitor::TBridgeMonitor(TSQLiteDB& database, const TBridgeControls& controls,
                               TQueueCommand queueCommand, TRandomByte randomByte)
    : m_database(database),
      m_controls(controls),
      m_queueCommand(std::move(queueCommand)),
      m_randomByte(randomByte ? std::move(randomByte) : SystemRandomByte()),
      m_insertBridge(database),
      m_updateReceived(database),
      m_updateInformation(database),
      m_updateSignalTx(database),
      m_clearSignalTx(database),
      m_selectBridges(database),
      m_selectApiVersion(database),
      m_selectBridge(database),
      m_gate(std::make_unique<TRefreshGate>(*this, controls.sBridges)) {
  m_insertBridge.SQL = {"INSERT OR IGNORE INTO `brg` (`MAC`,`APIVer`,`Received`)",
                        "VALUES (?,?,CURRENT_TIMESTAMP)"};
  m_updateReceived.SQL = {"UPDATE `brg`", "SET `Received` = CURRENT_TIMESTAMP, `RSSI_RX` = ?",
                          "WHERE `MAC` = ?"};
  m_updateInformation.SQL = {"UPDATE `brg`", "SET `Version` = ?, `BoardType` = ?", "WHERE `MAC` = ?"};
  m_updateSignalTx.SQL = {"UPDATE `brg`", "SET `RSSI_TX` = ?", "WHERE `MAC` = ?"};
  m_clearSignalTx.SQL = {"UPDATE `brg`", "SET `RSSI_TX` = NULL", "WHERE `MAC` = ?"};
  m_selectBridges.SQL = {"SELECT `MAC`, `Version`, `BoardType`, `RSSI_RX`, `RSSI_TX`,",
                         "  TIME(`Received`, 'localtime') AS `ReceivedLocal`,",
                         "  (UNIXEPOCH() - UNIXEPOCH(`Received`)) AS `TimePassed`",
                         "FROM `brg`",
                         "WHERE `RSSI_RX` >= ?",
                         "ORDER BY `MAC`"};
  m_selectApiVersion.SQL = {"SELECT `ApiVer`", "FROM `brg`", "WHERE `MAC` = ?"};
  // One row of the refresh query, with the second it was read in.
  m_selectBridge.SQL = {"SELECT `MAC`, `Version`, `BoardType`, `RSSI_RX`,",
                        "  TIME(`Received`, 'localtime') AS `ReceivedLocal`,",
                        "  (UNIXEPOCH() - UNIXEPOCH(`Received`)) AS `TimePassed`,",
                        "  UNIXEPOCH() AS `Now`",
                        "FROM `brg`",
                        "WHERE `RSSI_RX` >= ? AND `MAC` = ?"};
}

TBridgeMonitor::~TBridgeMonitor() = default;

bool TBridgeMonitor::Ready(TSQLiteQuery& query) {
  if (query.Statement()) return true;
  return query.Prepare(true) && query.Statement();
}

void TBridgeMonitor::SetupControls() {
  QTableWidget* grid = m_controls.sBridges;
  grid->setColumnCount(kColumnCount);
  EnsureHeader();
  QHeaderView* columns = grid->horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Interactive);
  columns->setStretchLastSection(false);
  columns->setMinimumSectionSize(std::min(20, *std::min_element(std::begin(kColumnWidths), std::end(kColumnWidths))));
  for (int column = 0; column < kColumnCount; ++column) grid->setColumnWidth(column, kColumnWidths[column]);
  // No fixed column: the row numbers Qt would show are not part of the grid.
  QHeaderView* rows = grid->verticalHeader();
  rows->setVisible(false);
  rows->setMinimumSectionSize(kRowHeight);
  rows->setDefaultSectionSize(kRowHeight);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSortingEnabled(false);
  FillGrid({});

  QSlider* level = m_controls.tBridgeLevel;
  level->setOrientation(Qt::Horizontal);
  level->setRange(kLevelMinimum, 0);
  level->setSingleStep(kLevelStep);
  level->setPageStep(kLevelStep);
  level->setTickInterval(kLevelStep);
  level->setTickPosition(QSlider::TicksBelow);
  level->setValue(kLevelMinimum);
  level->setToolTip(QString::number(kLevelMinimum));

  m_controls.bBRG_Blink->setEnabled(false);
  m_controls.bBRG_Signal->setEnabled(false);
  m_controls.bBRG_Signal->setVisible(false);
  m_controls.lBRG_Rx->SetColorOn(clLime);
  m_controls.tRefreshBridges->setInterval(kRefreshIntervalMs);
  m_controls.tRefreshBridges->stop();
}

void TBridgeMonitor::ParseBridgeReport(const std::string& args) {
  std::string rest = args;
  CutToken(rest, ' ');  // the gateway's own field, of no use here
  std::string frame = HexToBytes(CutToken(rest, ' '), false);
  if (frame.size() == kFrameWithHeader) frame.erase(0, kHeaderLength);
  const std::int32_t signal = TextToInt(rest, 0) & 0xFF;

  if (frame.size() < kMinimumFrame || frame.compare(0, kFramePrefix.size(), kFramePrefix) != 0) return;

  const std::uint8_t type = ByteAt(frame, 3);
  const std::int32_t apiVersion = ByteAt(frame, 4);
  std::string id = IdText(frame, 6);

  const bool information = type == kTypeInformation && apiVersion == kApiInformation;
  std::string version;
  if (information) {
    id = IdText(frame, 12);
    version = std::to_string(ByteAt(frame, 18)) + "." + std::to_string(ByteAt(frame, 19)) + "." +
              std::to_string(ByteAt(frame, 20));
  }

  if (type == kTypeInformation || type == kTypeAnswer) {
    // An existing row keeps its API version: the one of the bridge's first
    // report since the last reset.
    if (Ready(m_insertBridge)) {
      m_insertBridge.BindParam(1, Variant(id));
      m_insertBridge.BindParam(2, Variant(apiVersion));
      m_insertBridge.ExecSQL();
    }
    if (Ready(m_updateReceived)) {
      m_updateReceived.BindParam(1, Variant(-signal));
      m_updateReceived.BindParam(2, Variant(id));
      m_updateReceived.ExecSQL();
    }
    m_controls.lBRG_Rx->Trigger();
  }

  if (information && Ready(m_updateInformation)) {
    m_updateInformation.BindParam(1, Variant(version));
    m_updateInformation.BindParam(2, Variant(static_cast<std::int32_t>(ByteAt(frame, 12))));
    m_updateInformation.BindParam(3, Variant(id));
    m_updateInformation.ExecSQL();
  }

  if (type == kTypeAnswer && ByteAt(frame, 12) == kAnswerSignalCheck && Ready(m_updateSignalTx)) {
    m_updateSignalTx.BindParam(1, Variant(-static_cast<std::int32_t>(ByteAt(frame, 26))));
    m_updateSignalTx.BindParam(2, Variant(id));
    m_updateSignalTx.ExecSQL();
  }

  // A frame that stored nothing still refreshes the grid: only a reload does.
  RequestRefresh(type == kTypeInformation || type == kTypeAnswer ? id : std::string());
}

void TBridgeMonitor::RequestRefresh(const std::string& id) {
  if (id.empty())
    m_fullReload = true;
  else
    m_changed.insert(id);
  if (m_pending) return;
  m_pending = true;
  QMetaObject::invokeMethod(m_gate.get(), [this] { FlushRefresh(); }, Qt::QueuedConnection);
}

void TBridgeMonitor::FlushRefresh() {
  if (!m_pending) return;
  m_pending = false;
  const bool monitoring = m_controls.cShow_BRG->isChecked();
  bool reload = m_fullReload || m_changed.size() > RowUpdateLimit(ShownRows());
  QTableWidget* grid = m_controls.sBridges;
  const int currentRow = grid->currentRow();
  const std::string selected = currentRow >= 0 && ShownRows() > 0 ? IdAtCurrentRow() : std::string();
  if (!reload) {
    EnsureHeader();
    for (const std::string& id : m_changed)
      if (!UpdateRow(id, monitoring)) {
        reload = true;
        break;
      }
  }
  m_changed.clear();
  m_fullReload = false;
  if (reload)
    RefreshBridges();
  else
    SetTimerAndButtons(ShownRows() > 0, monitoring);
  // The picked bridge gone (filtered out): a reload leaves the highlight on the
  // same row number, whereas the rows inserted above it and its removal (also
  // by row updates made before a reload) have moved it elsewhere.
  if (!selected.empty() && FindRow(ToQString(selected)) < 0) {
    const int row = std::min(currentRow, grid->rowCount() - 1);
    if (row != grid->currentRow()) grid->setCurrentCell(row, std::max(0, grid->currentColumn()));
  }
}

bool TBridgeMonitor::UpdateRow(const std::string& id, bool monitoring) {
  if (!Ready(m_selectBridge)) return false;
  m_selectBridge.Reset();
  m_selectBridge.BindParam(1, Variant(static_cast<std::int32_t>(m_controls.tBridgeLevel->value())));
  m_selectBridge.BindParam(2, Variant(id));
  std::vector<QString> cells;
  if (m_selectBridge.Open() && !m_selectBridge.Eof()) {
    // The other rows' "Time" was read in another second: only a reload shows them right.
    if (monitoring && m_selectBridge.FieldValue("Now").ToInt64() != m_reloadSecond) {
      m_selectBridge.Reset();
      return false;
    }
    for (const char* column : {"MAC", "Version", "BoardType", monitoring ? "TimePassed" : "ReceivedLocal", "RSSI_RX"})
      cells.push_back(ToQString(m_selectBridge.FieldValue(column).ToString()));
  }
  m_selectBridge.Reset();

  QTableWidget* grid = m_controls.sBridges;
  const int row = FindRow(ToQString(id));
  if (row >= 0) {
    if (cells.empty()) {
      // Filtered out now; the last row leaves the grid's one empty row behind.
      if (ShownRows() == 1)
        FillGrid({});
      else
        grid->removeRow(row);
      return true;
    }
    for (int column = 0; column < kColumnCount; ++column) {
      QTableWidgetItem* item = grid->item(row, column);
      if (!item)
        grid->setItem(row, column, new QTableWidgetItem(cells[column]));  // the grid owns it
      else if (item->text() != cells[column])
        item->setText(cells[column]);
    }
  } else if (!cells.empty()) {
    if (ShownRows() == 0) {
      FillGrid({cells});
      return true;
    }
    // Inserted rows move the current index with them: the selection stays on its bridge.
    const int place = -1 - row;
    grid->insertRow(place);
    for (int column = 0; column < kColumnCount; ++column)
      grid->setItem(place, column, new QTableWidgetItem(cells[column]));  // the grid owns it
  }
  return true;
}

int TBridgeMonitor::ShownRows() const {
  const QTableWidget* grid = m_controls.sBridges;
  if (grid->rowCount() == 1) {
    const QTableWidgetItem* first = grid->item(0, 0);
    if (!first || first->text().isEmpty()) return 0;
  }
  return grid->rowCount();
}

// The rows are in `MAC` order, byte by byte as SQLite sorts them, which for
// these ASCII IDs is QString's order too.
int TBridgeMonitor::FindRow(const QString& id) const {
  const QTableWidget* grid = m_controls.sBridges;
  int low = 0, high = ShownRows();
  while (low < high) {
    const int middle = low + (high - low) / 2;
    const QTableWidgetItem* item = grid->item(middle, 0);
    const int order = QString::compare(item ? item->text() : QString(), id, Qt::CaseSensitive);
    if (order == 0) return middle;
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  return -1 - low;
}

void TBridgeMonitor::EnsureHeader() {
  QTableWidget* grid = m_controls.sBridges;
  if (grid->columnCount() != kColumnCount) grid->setColumnCount(kColumnCount);
  for (int column = 0; column < kColumnCount; ++column) {
    const QString caption = QString::fromLatin1(kHeaders[column]);
    QTableWidgetItem* header = grid->horizontalHeaderItem(column);
    if (!header)
      grid->setHorizontalHeaderItem(column, new QTableWidgetItem(caption));  // the grid owns it
    else if (header->text() != caption)
      header->setText(caption);
  }
}

void TBridgeMonitor::RefreshBridges() {
  // Whatever was noted is read with everything else.
  m_pending = m_fullReload = false;
  m_changed.clear();
  EnsureHeader();
  const bool monitoring = m_controls.cShow_BRG->isChecked();
  // Taken before the query: a second that turns during it makes the next row
  // update reload rather than show a stale "Time".
  m_reloadSecond = static_cast<std::int64_t>(std::time(nullptr));

  std::vector<std::vector<QString>> rows;
  if (Ready(m_selectBridges)) {
    m_selectBridges.Reset();
    m_selectBridges.BindParam(1, Variant(static_cast<std::int32_t>(m_controls.tBridgeLevel->value())));
    // Columns by name, looked up once per refresh rather than once per cell.
    const int columns[kColumnCount] = {m_selectBridges.ColumnIndex("MAC"), m_selectBridges.ColumnIndex("Version"),
                                       m_selectBridges.ColumnIndex("BoardType"),
                                       m_selectBridges.ColumnIndex(monitoring ? "TimePassed" : "ReceivedLocal"),
                                       m_selectBridges.ColumnIndex("RSSI_RX")};
    sqlite3_stmt* statement = m_selectBridges.Statement();
    m_selectBridges.Open();
    while (!m_selectBridges.Eof()) {
      std::vector<QString>& cells = rows.emplace_back(kColumnCount);
      // Null columns read as empty text.
      for (int column = 0; column < kColumnCount; ++column)
        if (columns[column] >= 0)
          cells[column] = ToQString(m_database.ColumnValue(statement, columns[column]).ToString());
      m_selectBridges.Next();
    }
    // Not left open between refreshes: a pending cursor would pin a read
    // transaction on the connection.
    m_selectBridges.Reset();
  }
  // The user picked a bridge, not a row: a bridge that appears above it must
  // not make Blink target another one.
  const int currentRow = m_controls.sBridges->currentRow();
  const std::string selected = currentRow >= 0 ? IdAtCurrentRow() : std::string();
  FillGrid(rows);
  if (!selected.empty()) KeepSelection(selected);
  SetTimerAndButtons(!rows.empty(), monitoring);
}

void TBridgeMonitor::SetTimerAndButtons(bool hasRows, bool monitoring) {
  QTimer* timer = m_controls.tRefreshBridges;
  if (hasRows && monitoring) {
    // Restarting a running timer would postpone its tick on every report, and
    // with reports coming faster than once a second "Time" would never count.
    if (!timer->isActive()) timer->start();
  } else {
    timer->stop();
  }
  m_controls.bBRG_Blink->setEnabled(hasRows);
  m_controls.bBRG_Signal->setEnabled(hasRows);
}

// Rewrites the cells in place: items are reused and only changed texts are
// set, so a refresh every report with a thousand bridges stays cheap and the
// selection and scroll position survive it.
void TBridgeMonitor::FillGrid(const std::vector<std::vector<QString>>& rows) {
  QTableWidget* grid = m_controls.sBridges;
  const bool updates = grid->updatesEnabled();
  grid->setUpdatesEnabled(false);
  const int rowCount = std::max<int>(1, static_cast<int>(rows.size()));
  if (grid->rowCount() != rowCount) grid->setRowCount(rowCount);
  for (int row = 0; row < rowCount; ++row) {
    for (int column = 0; column < kColumnCount; ++column) {
      const QString text = rows.empty() ? QString() : rows[row][column];
      QTableWidgetItem* item = grid->item(row, column);
      if (!item)
        grid->setItem(row, column, new QTableWidgetItem(text));  // the grid owns it
      else if (item->text() != text)
        item->setText(text);
    }
  }
  grid->setUpdatesEnabled(updates);
}

void TBridgeMonitor::KeepSelection(const std::string& id) {
  QTableWidget* grid = m_controls.sBridges;
  const QString idText = ToQString(id);
  for (int row = 0; row < grid->rowCount(); ++row) {
    const QTableWidgetItem* item = grid->item(row, 0);
    if (item && item->text() == idText) {
      if (row != grid->currentRow()) grid->setCurrentCell(row, std::max(0, grid->currentColumn()));
      return;
    }
  }
  // Gone from the grid (filtered out): the highlighted row, whichever it is,
  // stays the one that Blink targets.
}

void TBridgeMonitor::ClearBridges() {
  m_changed.clear();
  m_database.Execute("DELETE FROM `brg`");
}

void TBridgeMonitor::SendBridgePacket(const std::string& id, std::uint8_t command, const std::string& suffix) {
  std::int32_t apiVersion = kDefaultApiVersion;
  if (Ready(m_selectApiVersion)) {
    m_selectApiVersion.Reset();
    m_selectApiVersion.BindParam(1, Variant(id));
    if (m_selectApiVersion.Open()) {
      const Variant value = m_selectApiVersion.FieldValue("ApiVer");
      if (!value.IsNull()) apiVersion = VariantToInt(value, kDefaultApiVersion);
    }
    m_selectApiVersion.Reset();
  }

  std::string frame = kDownlinkHeader;
  frame += static_cast<char>(apiVersion & 0xFF);
  frame += static_cast<char>(m_randomByte());
  frame += HexToBytes(id, false);
  frame += static_cast<char>(command);
  frame += suffix;
  m_queueCommand("%pkt_tx", BytesToHex(frame, false));
}

void TBridgeMonitor::cShow_BRGClick() {
  m_queueCommand("%show_brg", m_controls.cShow_BRG->isChecked() ? "1" : "0");
  RefreshBridges();
}

void TBridgeMonitor::tBridgeLevelChange() {
  m_controls.tBridgeLevel->setToolTip(QString::number(m_controls.tBridgeLevel->value()));
  RefreshBridges();
}

std::string TBridgeMonitor::SelectedBridge() {
  FlushRefresh();
  return IdAtCurrentRow();
}

std::string TBridgeMonitor::SelectedRowsText() {
  FlushRefresh();
  const QTableWidget* grid = m_controls.sBridges;
  std::string text;
  for (int column = 0; column < kColumnCount; ++column) text += std::string(column ? "\t" : "") + kHeaders[column];
  text += '\n';
  if (ShownRows() == 0) return text;
  QModelIndexList selected = grid->selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  for (const QModelIndex& index : selected) {
    for (int column = 0; column < kColumnCount; ++column) {
      const QTableWidgetItem* item = grid->item(index.row(), column);
      if (column) text += '\t';
      if (item) text += FromQString(item->text());
    }
    text += '\n';
  }
  return text;
}

std::string TBridgeMonitor::IdAtCurrentRow() const {
  const QTableWidget* grid = m_controls.sBridges;
  const int row = grid->currentRow() < 0 ? 0 : grid->currentRow();
  const QTableWidgetItem* item = grid->item(row, 0);
  return item ? FromQString(item->text()) : std::string();
}

void TBridgeMonitor::bBRG_BlinkClick() { SendBridgePacket(SelectedBridge(), kCommandBlink, std::string()); }

void TBridgeMonitor::bBRG_SignalClick() {
  const std::string id = SelectedBridge();
  // The answer that arrives next is the one of this check, not an old one.
  if (Ready(m_clearSignalTx)) {
    m_clearSignalTx.BindParam(1, Variant(id));
    m_clearSignalTx.ExecSQL();
  }
  RefreshBridges();
  SendBridgePacket(id, kCommandSignalCheck, "TEST");
}
