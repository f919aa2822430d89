#include "serial/AfPortControls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "PtyPair.h"
#include "serial/AfPosixPort.h"
#include "CaptureErrors.h"
#include "serial/AfSafeSync.h"
#include "serial/PortMap.h"

namespace {

// Port 1 free, port 2 held by another open, port 3 missing, port 4 free
// behind a symbolic link.
class PortSelector : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(free1.IsValid() && busy.IsValid() && free4.IsValid());
    link = std::filesystem::temp_directory_path() / ("orvane-sel-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(free4.SlavePath(), link);
    PortMap::SetExplicitPorts({{1, free1.SlavePath()},
                               {2, busy.SlavePath()},
                               {3, "/dev/orvane-unplugged"},
                               {4, link.string()}});
    ASSERT_EQ(holder.Open(busy.SlavePath()), TAfPosixPort::orOpened);
  }
  void TearDown() override {
    PortMap::SetExplicitPorts({});
    std::filesystem::remove(link);
  }

  static std::vector<std::string> Texts(const TAfPortComboBox& box) {
    std::vector<std::string> out;
    for (int i = 0; i < box.count(); ++i) out.push_back(box.itemText(i).toStdString());
    return out;
  }
  static int IndexOf(const TAfPortComboBox& box, uint16_t number) {
    for (int i = 0; i < box.count(); ++i)
      if (TAfPortComboBox::ItemPortNumber(box.ItemValue(i)) == number) return i;
    return -1;
  }
  static void Pick(TAfPortComboBox& box, int index) {
    box.setCurrentIndex(index);
    emit box.activated(index);
  }

  TPtyPair free1, busy, free4;
  std::filesystem::path link;
  TAfPosixPort holder;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(PortSelector, OptionsDecideWhichPortsAreListed) {
  TAfPortComboBox box;
  box.SetMaxComPorts(4);
  struct Row {
    const char* edge;
    TAfPortCtlOptions options;
    Names expected;
  };
  const Row rows[] = {
      {"existing ports, a busy one included", {pcCheckExist}, {"COM 1", "COM 2", "COM 4"}},
      {"only ports that are free", {pcCheckExist, pcDisableOpen}, {"COM 1", "COM 4"}},
      {"no check: every number, present or not", {}, {"COM 1", "COM 2", "COM 3", "COM 4"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.edge);
    box.SetOptions(row.options);
    EXPECT_EQ(Texts(box), row.expected);
  }
  // Probe states ride in the high half of each item's value.
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(0)), psFree);
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(1)), psInUse);
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(2)), psMissing);
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(3)), psFree);
  EXPECT_EQ(box.itemData(3, Qt::ToolTipRole).toString().toStdString(), link.string());
}

TEST_F(PortSelector, ProbeSeesLocksWithoutOpening) {
  const TAfPortProbe before;
  EXPECT_EQ(before.Probe(1), psFree);
  TAfPosixPort other;
  ASSERT_EQ(other.Open(free1.SlavePath()), TAfPosixPort::orOpened);
  EXPECT_EQ(before.Probe(1), psFree);  // the lock table is a snapshot
  EXPECT_EQ(TAfPortProbe().Probe(1), psInUse);
  EXPECT_EQ(TAfPortProbe().Probe(4), psFree);
  EXPECT_EQ(TAfPortProbe().Probe(0), psMissing);
  EXPECT_EQ(TAfPortProbe().ProbePath("/dev/null"), psFree);  // a character device; the open tells more
  EXPECT_EQ(TAfPortProbe().ProbePath("/tmp"), psMissing);
}

TEST_F(PortSelector, AUucpLockFileOfALiveProcessMarksThePortInUse) {
  const std::filesystem::path lockFile = "/run/lock/LCK.." + link.filename().string();
  std::ofstream lock(lockFile);
  if (!lock) GTEST_SKIP() << "/run/lock is not writable here";
  lock << "      " << ::getpid() << "\n";
  lock.close();
  EXPECT_EQ(TAfPortProbe().Probe(4), psInUse);
  std::ofstream(lockFile) << "  999999999\n";  // a pid that is not running: stale
  EXPECT_EQ(TAfPortProbe().Probe(4), psFree);
  std::filesystem::remove(lockFile);
}

TEST_F(PortSelector, PickingAPortMovesTheLinkedComponent) {
  TAfComPort port;
  port.SetComNumber(1);
  TAfPortComboBox box;
  box.SetMaxComPorts(4);
  box.SetOptions({pcCheckExist, pcHighlightOpen});
  box.SetComPort(&port);
  EXPECT_EQ(box.currentText(), "COM 1");

  port.OpenPort();
  box.RebuildList();
  // Its own open port is in use now, and shown grey when drawn plain.
  const int own = IndexOf(box, 1);
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(own)), psInUse);
  EXPECT_EQ(box.ItemTextColor(own, true), box.palette().color(QPalette::Disabled, QPalette::Text));
  EXPECT_FALSE(box.ItemTextColor(own, false).isValid());
  EXPECT_EQ(box.ItemTextColor(IndexOf(box, 4), true), box.palette().color(QPalette::Active, QPalette::ButtonText));

  int changes = 0;
  box.OnChange = [&](QObject*) { ++changes; };
  Pick(box, IndexOf(box, 4));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(port.ComNumber(), 4);
  EXPECT_TRUE(port.IsPortOpen());  // reopened on the new number
  EXPECT_EQ(box.ComNumber(), 4);
  EXPECT_EQ(box.currentText(), "COM 4");
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(IndexOf(box, 1))), psFree);  // the old one was let go

  port.ClosePort();
  port.SetAutoOpen(true);
  Pick(box, IndexOf(box, 1));
  EXPECT_TRUE(port.IsPortOpen());  // a closed port with AutoOpen is opened
  EXPECT_EQ(port.ComNumber(), 1);
}

TEST_F(PortSelector, AFailedReopenStillRefreshesTheListAndReportsTheError) {
  std::string reported;
  CaptureExceptionText(reported);
  TAfComPort port;
  port.SetComNumber(1);
  port.OpenPort();
  TAfPortComboBox box;
  box.SetMaxComPorts(4);
  box.SetComPort(&port);
  Pick(box, IndexOf(box, 2));  // held elsewhere
  AfSafeSync::SetExceptionHandler(nullptr);
  EXPECT_EQ(reported.substr(0, 22), "Can't open device COM2");
  EXPECT_FALSE(port.IsPortOpen());
  EXPECT_EQ(box.currentText(), "COM 2");
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(IndexOf(box, 1))), psFree);
}

TEST_F(PortSelector, ADestroyedPortIsUnlinkedAndAnEmptyListTouchesNothing) {
  TAfPortComboBox box;
  box.SetMaxComPorts(4);
  {
    TAfComPort port;
    port.SetComNumber(4);
    box.SetComPort(&port);
    EXPECT_EQ(box.ComPort(), &port);
  }
  EXPECT_EQ(box.ComPort(), nullptr);
  Pick(box, IndexOf(box, 1));  // only the selection moves
  EXPECT_EQ(box.ComNumber(), 1);

  TAfComPort port;
  port.SetComNumber(4);
  box.SetComPort(&port);
  holder.Close();
  TAfPosixPort h1, h4;
  ASSERT_EQ(h1.Open(free1.SlavePath()), TAfPosixPort::orOpened);
  ASSERT_EQ(h4.Open(free4.SlavePath()), TAfPosixPort::orOpened);
  box.SetOptions({pcCheckExist, pcDisableOpen});  // port 2 is free now, the others are held
  EXPECT_EQ(Texts(box), (Names{"COM 2", "COM 4"}));  // 4, held, stays listed: it is the stored port
  h1.Close();
  h4.Close();
  ASSERT_EQ(holder.Open(busy.SlavePath()), TAfPosixPort::orOpened);
  box.RebuildList();
  box.SetMaxComPorts(0);
  box.SelectComNumber();
  EXPECT_EQ(box.count(), 0);
  EXPECT_EQ(box.ComNumber(), 0);
  emit box.activated(-1);
  EXPECT_EQ(port.ComNumber(), 4);  // untouched
}

// Adapters come and go while the window is up: the list follows each time it
// drops down, and neither the selection nor the open port moves.
TEST_F(PortSelector, DroppingTheListDownFollowsHotPlugWithoutMovingTheSelection) {
  const std::filesystem::path plug = link.string() + "-plug";
  auto ports = PortMap::ExplicitPorts();
  ports[5] = plug.string();
  PortMap::SetExplicitPorts(ports);
  TAfComPort port;
  port.SetComNumber(4);
  TAfPortComboBox box;
  box.SetMaxComPorts(5);
  box.SetOptions({pcCheckExist, pcHighlightOpen});
  box.SetComPort(&port);
  port.OpenPort();
  ASSERT_EQ(Texts(box), (Names{"COM 1", "COM 2", "COM 4"}));
  const auto dropDown = [&box] {
    box.showPopup();
    box.hidePopup();
  };
  const auto unmoved = [&] {
    EXPECT_EQ(box.currentText(), "COM 4");
    EXPECT_EQ(box.ComNumber(), 4);
    EXPECT_EQ(port.ComNumber(), 4);
  };

  TPtyPair adapter;
  std::filesystem::create_symlink(adapter.SlavePath(), plug);
  dropDown();
  EXPECT_EQ(Texts(box), (Names{"COM 1", "COM 2", "COM 4", "COM 5"}));
  unmoved();
  EXPECT_TRUE(port.IsPortOpen());
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(IndexOf(box, 4))), psInUse);  // its own open port

  std::filesystem::remove(plug);
  dropDown();
  EXPECT_EQ(Texts(box), (Names{"COM 1", "COM 2", "COM 4"}));
  unmoved();
  EXPECT_TRUE(port.IsPortOpen());

  // The selected adapter pulled out: its item stays, marked missing, until the user picks another.
  port.ClosePort();
  std::filesystem::remove(link);
  dropDown();
  EXPECT_EQ(Texts(box), (Names{"COM 1", "COM 2", "COM 4"}));
  EXPECT_EQ(TAfPortComboBox::ItemState(box.ItemValue(IndexOf(box, 4))), psMissing);
  unmoved();
  // Picked again while it is still missing: the rebuilt list still shows the port Open uses.
  std::string reported;
  CaptureExceptionText(reported);
  Pick(box, IndexOf(box, 4));
  AfSafeSync::SetExceptionHandler(nullptr);
  unmoved();
  EXPECT_EQ(Texts(box), (Names{"COM 1", "COM 2", "COM 4"}));

  // No selection stays no selection, even when the list was empty before.
  box.setCurrentIndex(-1);
  dropDown();
  EXPECT_EQ(box.currentIndex(), -1);
  EXPECT_EQ(Texts(box), (Names{"COM 1", "COM 2"}));
  EXPECT_EQ(port.ComNumber(), 4);
}

TEST_F(PortSelector, SelectingByNumberMovesTheLinkedPortOnlyToAListedPort) {
  TAfComPort port;
  port.SetComNumber(1);
  TAfPortComboBox box;
  box.SetMaxComPorts(4);
  box.SetComPort(&port);
  int changes = 0;
  box.OnChange = [&](QObject*) { ++changes; };
  EXPECT_TRUE(box.SetComNumber(4));
  EXPECT_EQ(box.currentText(), "COM 4");
  EXPECT_EQ(port.ComNumber(), 4);
  EXPECT_FALSE(box.SetComNumber(3));  // missing
  EXPECT_FALSE(box.SetComNumber(0));
  EXPECT_EQ(box.currentText(), "COM 4");
  EXPECT_EQ(port.ComNumber(), 4);
  EXPECT_EQ(changes, 0);
}
