#pragma once
// Drop-down lists of the system.
//
// TCustomEnhCombo: a combo box that can widen its dropped-down list to the
// longest caption (AutoItemWidth).
// TIndexedCombo: a drop-down list (no free text) whose items each carry a
// hidden text key; the program selects and reads items by key. The key lives
// in the item's data, so it can never drift out of step with the items.
//
// Selecting by program (the first item added, SelectKey) emits no
// `activated`; connect the system's OnChange handler to `activated`, which
// only the user's choice emits.
//
// Thread: GUI thread only.

#include <QComboBox>
#include <string>

class TCustomEnhCombo : public QComboBox {
  Q_OBJECT
  Q_PROPERTY(bool AutoItemWidth READ AutoItemWidth WRITE SetAutoItemWidth)

 public:
  explicit TCustomEnhCombo(QWidget* parent = nullptr);

  bool AutoItemWidth() const { return m_autoItemWidth; }
  void SetAutoItemWidth(bool on) { m_autoItemWidth = on; }

  // The width asked for the dropped-down list at the last drop-down; 0 when
  // AutoItemWidth left the toolkit's default.
  int DroppedWidth() const { return m_droppedWidth; }

  void showPopup() override;

 private:
  bool m_autoItemWidth = false;
  int m_droppedWidth = 0;
};

class TIndexedCombo : public TCustomEnhCombo {
  Q_OBJECT

 public:
  explicit TIndexedCombo(QWidget* parent = nullptr);

  // Position of the key (ASCII letters compared without case, first match),
  // -1 when absent.
  int IndexOfKey(const std::string& key) const;
  // A new key is appended with its caption (the first item becomes selected);
  // a present key only gets the new caption.
  void AddKeyedItem(const std::string& key, const std::string& caption);
  // Key of the selected item; empty when nothing is selected.
  std::string SelectedKey() const;
  // Selects the key's item when present; otherwise nothing changes.
  void SelectKey(const std::string& key);
  // Empties keys and items.
  void Clear();
  // The key of item i (empty when out of range).
  std::string KeyAt(int index) const;
};
