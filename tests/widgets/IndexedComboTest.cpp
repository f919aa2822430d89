#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QSignalSpy>
#include <string>
#include <vector>

#include "GrayedEdit.h"

namespace {

struct IndexedComboTest : ::testing::Test {
  TIndexedCombo combo;
  void AddAbc() {
    combo.AddKeyedItem("a", "Alpha");
    combo.AddKeyedItem("b", "Bravo");
    combo.AddKeyedItem("c", "Charlie");
  }
};

}  // namespace

TEST_F(IndexedComboTest, FirstAddedItemIsSelectedWithoutChangeEvent) {
  QSignalSpy changes(&combo, &QComboBox::activated);
  AddAbc();
  EXPECT_EQ(combo.SelectedKey(), "a");
  EXPECT_EQ(combo.currentText(), QString("Alpha"));
  EXPECT_EQ(changes.count(), 0);
}

// Regression: the first item was selected (and signalled) before its key was
// attached, so a handler read an empty key.
TEST_F(IndexedComboTest, SelectionSignalSeesTheNewKey) {
  std::vector<std::string> seen;
  QObject::connect(&combo, &QComboBox::currentIndexChanged, [&] { seen.push_back(combo.SelectedKey()); });
  AddAbc();
  EXPECT_EQ(seen, std::vector<std::string>{"a"});
}

TEST_F(IndexedComboTest, ReAddingAKeyReplacesOnlyItsCaption) {
  AddAbc();
  combo.SelectKey("c");
  combo.AddKeyedItem("b", "Beta");
  EXPECT_EQ(combo.count(), 3);
  EXPECT_EQ(combo.itemText(1), QString("Beta"));
  EXPECT_EQ(combo.SelectedKey(), "c");
}

TEST_F(IndexedComboTest, SelectKeyIgnoresCaseAndAbsentKeys) {
  AddAbc();
  combo.SelectKey("b");
  combo.SelectKey("zz");
  EXPECT_EQ(combo.SelectedKey(), "b");
  combo.SelectKey("A");
  EXPECT_EQ(combo.SelectedKey(), "a");
  EXPECT_EQ(combo.IndexOfKey("C"), 2);
  EXPECT_EQ(combo.IndexOfKey("d"), -1);
}

TEST_F(IndexedComboTest, ClearEmptiesAndTheNextItemIsSelectedAgain) {
  AddAbc();
  combo.SelectKey("c");
  combo.Clear();
  EXPECT_EQ(combo.SelectedKey(), "");
  EXPECT_EQ(combo.IndexOfKey("a"), -1);
  combo.AddKeyedItem("x", "X-ray");
  EXPECT_EQ(combo.SelectedKey(), "x");
}

TEST_F(IndexedComboTest, KeysAreBytesNotText) {
  // Account IDs are byte strings; a key with a high byte must come back whole.
  const std::string key = std::string("id\xE9", 3);
  combo.AddKeyedItem(key, "name");
  EXPECT_EQ(combo.SelectedKey(), key);
}

TEST_F(IndexedComboTest, AutoItemWidthWidensTheDroppedList) {
  combo.resize(60, 22);
  combo.AddKeyedItem("k", "A caption far wider than the sixty pixel box itself");
  combo.show();
  combo.showPopup();
  EXPECT_EQ(combo.DroppedWidth(), 0);  // off: the toolkit's default width
  combo.hidePopup();

  combo.SetAutoItemWidth(true);
  combo.showPopup();
  const int expected = QFontMetrics(combo.font()).horizontalAdvance(combo.itemText(0)) + 24;
  EXPECT_EQ(combo.DroppedWidth(), expected);
  EXPECT_GE(combo.view()->width(), expected - 4);  // the view sits inside a frame
  combo.hidePopup();
}
