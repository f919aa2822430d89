#include "GrayedEdit.h"

#include <QAbstractItemView>
#include <QByteArray>
#include <QFontMetrics>
#include <algorithm>

#include "QtText.h"

namespace {

// The settings and the key list compare keys the way the system's string lists
// do: only ASCII letters fold.
bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Where addItem puts its user data.
constexpr int kKeyRole = Qt::UserRole;

}  // namespace

TCustomEnhCombo::TCustomEnhCombo(QWidget* parent) : QComboBox(parent) {}

void TCustomEnhCombo::showPopup() {
  if (m_autoItemWidth) {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (int i = 0; i < count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    m_droppedWidth = std::max(widest + 24, width());
    // The popup container honours the view's minimum width when it sizes itself.
    view()->setMinimumWidth(m_droppedWidth);
  } else if (m_droppedWidth != 0) {
    m_droppedWidth = 0;
    view()->setMinimumWidth(0);
  }
  QComboBox::showPopup();
}

TIndexedCombo::TIndexedCombo(QWidget* parent) : TCustomEnhCombo(parent) { setEditable(false); }

std::string TIndexedCombo::KeyAt(int index) const {
  if (index < 0 || index >= count()) return {};
  const QByteArray key = itemData(index, kKeyRole).toByteArray();
  return std::string(key.constData(), static_cast<std::size_t>(key.size()));
}

int TIndexedCombo::IndexOfKey(const std::string& key) const {
  for (int i = 0; i < count(); ++i)
    if (SameTextAscii(KeyAt(i), key)) return i;
  return -1;
}

void TIndexedCombo::AddKeyedItem(const std::string& key, const std::string& caption) {
  const int index = IndexOfKey(key);
  if (index >= 0) {
    setItemText(index, ToQString(caption));
    return;
  }
  // The key travels with the item: adding to an empty list selects the item
  // and signals at once, and a handler may read SelectedKey() right there.
  addItem(ToQString(caption), QByteArray(key.data(), static_cast<qsizetype>(key.size())));
  if (count() == 1) setCurrentIndex(0);
}

std::string TIndexedCombo::SelectedKey() const { return KeyAt(currentIndex()); }

void TIndexedCombo::SelectKey(const std::string& key) {
  const int index = IndexOfKey(key);
  if (index >= 0) setCurrentIndex(index);
}

void TIndexedCombo::Clear() { clear(); }
