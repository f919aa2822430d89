#include "AfPortControls.h"

#include <QEvent>
#include <QFontMetrics>
#include <QStyledItemDelegate>

#include "AfSafeSync.h"
#include "PortMap.h"

namespace {

// Draws the dropped-down items with the combo box's highlight colours and the
// fixed item height (font height + 5).
class TPortItemDelegate : public QStyledItemDelegate {
 public:
  explicit TPortItemDelegate(TAfPortComboBox* combo) : QStyledItemDelegate(combo), m_combo(combo) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(QFontMetrics(m_combo->font()).height() + 5);
    return size;
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const bool plain = !(option->state & (QStyle::State_Selected | QStyle::State_HasFocus));
    const QColor color = m_combo->ItemTextColor(index.row(), plain);
    if (color.isValid()) option->palette.setColor(QPalette::Text, color);
  }

 private:
  TAfPortComboBox* m_combo;
};

}  // namespace

TAfPortComboBox::TAfPortComboBox(QWidget* parent) : QComboBox(parent) {
  setItemDelegate(new TPortItemDelegate(this));
  connect(this, &QComboBox::activated, this, &TAfPortComboBox::UserChange);
  RebuildList();
}

void TAfPortComboBox::SetComPort(TAfComPort* port) {
  if (port == m_comPort) return;
  m_comPort = port;
  if (m_comPort) {
    m_comNumber = m_comPort->ComNumber();
    SelectComNumber();
  }
}

void TAfPortComboBox::SetOptions(TAfPortCtlOptions options) {
  if (options == m_options) return;
  m_options = options;
  RebuildList();
}

void TAfPortComboBox::SetMaxComPorts(int16_t count) {
  if (count == m_maxComPorts) return;
  m_maxComPorts = count;
  RebuildList();
}

uint32_t TAfPortComboBox::ItemValue(int index) const { return itemData(index).toUInt(); }

void TAfPortComboBox::RebuildList() {
  const int selected = currentIndex() >= 0 ? ItemPortNumber(ItemValue(currentIndex())) : -1;
  const QSignalBlocker blocker(this);
  // The stored port keeps its item even when its adapter is gone: it is the
  // port Open uses, so the box must go on showing it.
  FillList(m_comNumber);
  if (const int index = IndexOfPort(selected); index >= 0) setCurrentIndex(index);
}

void TAfPortComboBox::Reprobe() {
  const int selected = currentIndex() >= 0 ? ItemPortNumber(ItemValue(currentIndex())) : 0;
  const QSignalBlocker blocker(this);
  FillList(selected);
  // Filling an empty box selects its first item; a box without selection stays so.
  setCurrentIndex(IndexOfPort(selected));
}

bool TAfPortComboBox::SetComNumber(uint16_t number) {
  const int index = number != 0 ? IndexOfPort(number) : -1;
  if (index < 0) return false;
  {
    const QSignalBlocker blocker(this);
    setCurrentIndex(index);
  }
  m_comNumber = number;
  if (m_comPort) m_comPort->SetComNumber(number);
  return true;
}

void TAfPortComboBox::FillList(int keep) {
  clear();
  const TAfPortProbe probe;
  for (int n = 1; n <= m_maxComPorts; ++n) {
    const TAfPortState state = probe.Probe(n);
    const bool listed = n == keep || !m_options.Has(pcCheckExist) ||
                        (m_options.Has(pcDisableOpen) ? state == psFree : state != psMissing);
    if (!listed) continue;
    addItem(QStringLiteral("COM %1").arg(n), QVariant::fromValue<uint32_t>(n + state * 65536u));
    setItemData(count() - 1, QString::fromStdString(PortMap::DevicePath(n)), Qt::ToolTipRole);
  }
}

int TAfPortComboBox::IndexOfPort(int number) const {
  for (int i = 0; i < count(); ++i)
    if (ItemPortNumber(ItemValue(i)) == number) return i;
  return -1;
}

void TAfPortComboBox::showPopup() {
  Reprobe();
  QComboBox::showPopup();
}

void TAfPortComboBox::SelectComNumber() {
  const QSignalBlocker blocker(this);
  if (const int index = IndexOfPort(m_comNumber); index >= 0) {
    setCurrentIndex(index);
    return;
  }
  if (count() > 0) {
    setCurrentIndex(0);
    m_comNumber = ItemPortNumber(ItemValue(0));
    // What the box shows is what Open uses; an open port is left on its own
    // number rather than moved behind the user's back.
    if (m_comPort && !m_comPort->IsPortOpen()) m_comPort->SetComNumber(m_comNumber);
  } else {
    m_comNumber = 0;
  }
}

QColor TAfPortComboBox::ItemTextColor(int index, bool plain) const {
  if (!m_options.Has(pcHighlightOpen) || !plain || index < 0 || index >= count()) return {};
  switch (ItemState(ItemValue(index))) {
    case psInUse: return palette().color(QPalette::Disabled, QPalette::Text);
    case psFree: return palette().color(QPalette::Active, QPalette::ButtonText);
    default: return {};
  }
}

void TAfPortComboBox::changeEvent(QEvent* event) {
  QComboBox::changeEvent(event);
  if (event->type() == QEvent::FontChange) RebuildList();
}

void TAfPortComboBox::UserChange(int index) {
  m_comNumber = index >= 0 ? ItemPortNumber(ItemValue(index)) : 0;
  try {
    if (OnChange) OnChange(this);
    if (m_comPort && m_comNumber != 0) {
      m_comPort->SetComNumber(m_comNumber);
      if (!m_comPort->IsPortOpen() && m_comPort->AutoOpen()) m_comPort->OpenPort();
    }
  } catch (...) {
    // A port that cannot be (re)opened still leaves the list up to date.
    RebuildList();
    SelectComNumber();
    AfSafeSync::HandleException(std::current_exception());
    return;
  }
  RebuildList();
  SelectComNumber();
}
