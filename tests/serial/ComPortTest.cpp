#include "serial/AfComPort.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "PtyPair.h"
#include "TestWait.h"
#include "serial/AfPortSettingsDialog.h"
#include "CaptureErrors.h"
#include "serial/AfSafeSync.h"
#include "serial/PortMap.h"

namespace {

constexpr uint16_t kPort = 301;
constexpr uint16_t kSecondPort = 302;
constexpr uint16_t kMissingPort = 303;

class ComPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.IsValid() && second.IsValid());
    PortMap::SetExplicitPorts(
        {{kPort, pty.SlavePath()}, {kSecondPort, second.SlavePath()}, {kMissingPort, "/dev/orvane-gone"}});
    port.setObjectName("cCom");
    port.OnPortOpen = [this](QObject*) { ++opens; };
    port.OnPortClose = [this](QObject*) { ++closes; };
    port.SetComNumber(kPort);
  }
  void TearDown() override { PortMap::SetExplicitPorts({}); }

  TPtyPair pty;
  TPtyPair second;
  TAfComPort port;
  int opens = 0;
  int closes = 0;
};

}  // namespace

TEST_F(ComPort, OpenAndCloseFireTheirEventsExactlyAsOften) {
  port.ClosePort();  // not open: still told
  EXPECT_EQ(closes, 1);
  port.OpenPort();
  EXPECT_TRUE(port.IsPortOpen());
  EXPECT_EQ(opens, 1);
  port.OpenPort();  // already open: nothing
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 1);
  port.ClosePort();
  EXPECT_FALSE(port.IsPortOpen());
  EXPECT_EQ(closes, 2);
}

TEST_F(ComPort, FailedOpensRaiseCoreErrorsWhateverRaiseErrorsSaysAndLeaveNothingOpen) {
  port.SetRaiseErrors(false);
  TAfComPort holder;
  holder.SetComNumber(kSecondPort);
  holder.OpenPort();
  struct Row {
    const char* edge;
    uint16_t number;
    const char* text;
  };
  const Row rows[] = {
      {"number 0", 0, "Invalid port number (COM0)"},
      {"mapped device that does not exist", kMissingPort, "Invalid port number (COM303)"},
      {"device held by another open", kSecondPort, "Can't open device COM302"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.edge);
    port.SetComNumber(row.number);
    // The text may go on with the reason.
    EXPECT_EQ(ErrorText<EAfComPortCoreError>([&] { port.OpenPort(); }).substr(0, std::strlen(row.text)), row.text);
    EXPECT_FALSE(port.IsPortOpen());
  }
  EXPECT_EQ(opens, 0);
  holder.ClosePort();
  port.OpenPort();  // the failures left the device free
  EXPECT_TRUE(port.IsPortOpen());
}

TEST_F(ComPort, TextReachesTheFarSideByteForByte) {
  port.SetOutBufSize(8192);  // room for everything below, however slowly the line drains
  port.OpenPort();
  port.WriteText("");  // nothing, and no error
  std::string all;
  for (int i = 0; i < 200; ++i) {
    const std::string line = "%info " + std::to_string(i) + "\r";
    port.WriteText(line);
    all += line;
  }
  std::string binary;
  for (int c = 0; c < 256; ++c) binary += static_cast<char>(c);
  port.WriteText(binary);
  all += binary;
  EXPECT_EQ(pty.ReadExactly(all.size()), all);
}

TEST_F(ComPort, RefusedWritesReportTheirSizeAndFreeRoom) {
  EXPECT_EQ(ErrorText<EAfComPortError>([&] { port.WriteText("%info"); }),
            "Write data error [requested: 5, free: 0] - cCom ");
  port.WriteText("");  // empty on a closed port: nothing either

  port.SetOutBufSize(16);
  port.OpenPort();
  const std::string tooBig(17, 'x');
  EXPECT_EQ(ErrorText<EAfComPortError>([&] { port.WriteText(tooBig); }),
            "Write data error [requested: 17, free: 16] - cCom ");
  port.SetRaiseErrors(false);
  EXPECT_NO_THROW(port.WriteText(tooBig));
  port.WriteText("fits");
  EXPECT_EQ(pty.ReadExactly(4), "fits");  // nothing of the refused blocks went out
  EXPECT_EQ(pty.ReadAvailable(), "");
}

TEST_F(ComPort, ReceivedBytesAreDeliveredInTheMainThread) {
  std::string received;
  bool allInMainThread = true;
  port.OnDataRecived = [&](QObject* sender, int count) {
    allInMainThread = allInMainThread && QThread::currentThread() == qApp->thread() && sender == &port;
    EXPECT_GE(count, 0);
    received += port.ReadAllText();
  };
  port.OpenPort();
  pty.WriteAll(":info gw=1\r");
  ASSERT_TRUE(WaitWithEvents([&] { return received.size() >= 11; }));
  EXPECT_EQ(received, ":info gw=1\r");
  EXPECT_TRUE(allInMainThread);
}

TEST_F(ComPort, BytesLeftUnreadAreReportedAgainAsPending) {
  std::vector<TAfCoreEvent> kinds;
  port.OnSyncEvent = [&](QObject*, TAfCoreEvent kind, uint32_t) { kinds.push_back(kind); };
  std::string received;
  port.OnDataRecived = [&](QObject*, int) {
    char one;
    port.ReadBlock(&one, 1);  // takes one byte per event and leaves the rest
    received += one;
  };
  port.OpenPort();
  pty.WriteAll("xyz");
  ASSERT_TRUE(WaitWithEvents([&] { return received.size() == 3; }));
  EXPECT_EQ(received, "xyz");
  EXPECT_NE(std::find(kinds.begin(), kinds.end(), ekDataPending), kinds.end());
}

TEST_F(ComPort, FourMegabytesInRandomChunksArriveCompleteAndInOrder) {
  constexpr size_t kTotal = 4u << 20;
  std::string sent(kTotal, '\0');
  std::mt19937 random(20240607);
  for (auto& c : sent) c = static_cast<char>(random());
  std::string received;
  received.reserve(kTotal);
  port.OnDataRecived = [&](QObject*, int) { received += port.ReadAllText(); };
  port.OpenPort();
  std::thread writer([&] {
    std::mt19937 sizes(7);
    size_t done = 0;
    while (done < kTotal) {
      const size_t chunk = std::min<size_t>(1 + sizes() % 9000, kTotal - done);
      pty.WriteAll(sent.substr(done, chunk));
      done += chunk;
    }
  });
  const bool complete = WaitWithEvents([&] { return received.size() >= kTotal; }, std::chrono::seconds(90));
  writer.join();
  ASSERT_TRUE(complete) << "got " << received.size() << " of " << kTotal;
  EXPECT_EQ(received.size(), kTotal);
  EXPECT_TRUE(received == sent) << "bytes lost or reordered";
}

TEST_F(ComPort, ClosingWithAWriteStuckOnAFullLineReturns) {
  port.SetOutBufSize(1 << 20);
  port.OpenPort();
  const std::string block(1 << 20, 'q');
  port.WriteText(block);  // the far side reads nothing: the line fills
  ASSERT_TRUE(WaitWithEvents([&] { return port.OutBufferFree() < (1 << 20); }));
  port.ClosePort();
  EXPECT_FALSE(port.IsPortOpen());
  EXPECT_EQ(closes, 1);
}

TEST_F(ComPort, ClosingFromInsideAnEventHandlerDoesNotDeadlock) {
  port.OnDataRecived = [&](QObject*, int) { port.ClosePort(); };
  port.OpenPort();
  pty.WriteAll("bye");
  ASSERT_TRUE(WaitWithEvents([&] { return closes == 1; }));
  EXPECT_FALSE(port.IsPortOpen());
}

TEST_F(ComPort, HangUpClosesThePortAndLeavesTheProcessIdle) {
  port.OpenPort();
  pty.CloseMaster();
  ASSERT_TRUE(WaitWithEvents([&] { return !port.IsPortOpen(); }));
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(opens, 1);

  const double cpuBefore = ProcessCpuMs();
  WaitWithEvents([] { return false; }, std::chrono::milliseconds(400));
  // The wait above polls the event loop itself; a busy worker would add a whole core.
  EXPECT_LT(ProcessCpuMs() - cpuBefore, 250.0);
  EXPECT_EQ(closes, 1);
}

TEST_F(ComPort, DestroyingAnOpenPortWithEventsInFlightJoinsItsThreads) {
  auto doomed = std::make_unique<TAfComPort>();
  int events = 0;
  doomed->OnDataRecived = [&](QObject*, int) { ++events; };  // reads nothing: events keep coming
  doomed->SetComNumber(kSecondPort);
  doomed->OpenPort();
  second.WriteAll(std::string(1000, 'd'));
  ASSERT_TRUE(WaitWithEvents([&] { return events > 0; }));
  int closed = 0;
  doomed->OnPortClose = [&](QObject*) { ++closed; };
  doomed.reset();
  EXPECT_EQ(closed, 0);  // destruction closes without the event
  TAfComPort again;
  again.SetComNumber(kSecondPort);
  again.OpenPort();
  EXPECT_TRUE(again.IsPortOpen());
}

TEST_F(ComPort, ChangingTheNumberWhileOpenMovesToTheOtherPort) {
  port.OpenPort();
  port.SetComNumber(kSecondPort);
  EXPECT_TRUE(port.IsPortOpen());
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(closes, 1);
  port.WriteText("moved");
  EXPECT_EQ(second.ReadExactly(5), "moved");
}

TEST(ComPortSettings, XOnXOffLimitsFollowFlowControlAndBufferSize) {
  TAfComPort port;
  port.SetFlowControl(fwXOnXOff);
  EXPECT_EQ(port.XOnLim(), 1024);
  EXPECT_EQ(port.XOffLim(), 3072);
  EXPECT_EQ(port.DeviceBlock().XonLim, 1024);
  port.SetInBufSize(1000);
  EXPECT_EQ(port.XOnLim(), 250);
  EXPECT_EQ(port.XOffLim(), 750);
  port.SetFlowControl(fwNone);
  EXPECT_EQ(port.XOnLim(), 0);
  EXPECT_EQ(port.XOffLim(), 0);
  port.SetXOnLim(100);  // one limit sets the other from the buffer size
  EXPECT_EQ(port.XOffLim(), 900);
}

TEST(ComPortSettings, PropertiesBuildTheDeviceBlock) {
  TAfComPort port;
  EXPECT_EQ(port.DeviceBlock().BaudRate, 115200u);
  EXPECT_EQ(port.DeviceBlock().Flags, AfDcbFlag::Binary | AfDcbFlag::DtrEnable | AfDcbFlag::RtsEnable);
  port.SetUserBaudRate(250000);
  EXPECT_EQ(port.BaudRate(), brUser);
  EXPECT_EQ(port.DeviceBlock().BaudRate, 250000u);
  port.SetBaudRate(br9600);
  EXPECT_EQ(port.UserBaudRate(), 0);
  EXPECT_EQ(port.DeviceBlock().BaudRate, 9600u);

  port.SetDatabits(db7);
  port.SetParity(paEven);
  port.SetStopbits(sbTwo);
  port.SetFlowControl(fwRtsCts);
  port.SetOptions({coParityCheck, coStripNull});
  const TAfDcb& b = port.DeviceBlock();
  EXPECT_EQ(b.ByteSize, 7);
  EXPECT_EQ(b.Parity, 2);
  EXPECT_EQ(b.StopBits, 2);
  // RTS handshake replaces "RTS enable"; DTR stays enabled.
  EXPECT_EQ(b.Flags, AfDcbFlag::Binary | 0x2004u | AfDcbFlag::Parity | AfDcbFlag::Null | AfDcbFlag::DtrEnable);
  port.SetDTR(false);
  port.SetFlowControl(fwDtrDsr);
  EXPECT_EQ(port.DeviceBlock().Flags & (AfDcbFlag::DtrControlMask | AfDcbFlag::RtsControlMask),
            AfDcbFlag::DtrHandshake | AfDcbFlag::RtsEnable);
}

TEST(ComPortSettings, BlocksAreTakenBackIntoProperties) {
  TAfComPort port;
  TAfDcb b = port.DeviceBlock();
  b.Flags |= 0x28 | 0x2004;  // both handshakes: DTR/DSR wins
  b.BaudRate = 57600;
  b.ByteSize = 9;  // out of range: 8 bits
  b.Parity = 7;    // out of range: none
  b.StopBits = 1;
  port.ApplyDeviceBlock(b);
  EXPECT_EQ(port.FlowControl(), fwDtrDsr);
  EXPECT_EQ(port.BaudRate(), br57600);
  EXPECT_EQ(port.Databits(), db8);
  EXPECT_EQ(port.Parity(), paNone);
  EXPECT_EQ(port.Stopbits(), sbOneAndHalf);

  b.BaudRate = 31250;  // not in the table
  b.Flags = AfDcbFlag::Binary | AfDcbFlag::OutX | AfDcbFlag::InX | AfDcbFlag::TXContinueOnXoff;
  port.ApplyDeviceBlock(b);
  EXPECT_EQ(port.BaudRate(), brUser);
  EXPECT_EQ(port.UserBaudRate(), 31250);
  EXPECT_EQ(port.FlowControl(), fwXOnXOff);
  EXPECT_TRUE(port.Options() == TAfComOptions({coIgnoreXOff}));

  port.setObjectName("cCom");
  b.DCBlength = 12;
  EXPECT_EQ(ErrorText<EAfComPortError>([&] { port.ApplyDeviceBlock(b); }),
            "Error setting parameters from DCB - cCom ");
  port.SetRaiseErrors(false);
  port.ApplyDeviceBlock(b);  // goes on with the block's values
  EXPECT_EQ(port.BaudRate(), brUser);
}

TEST_F(ComPort, OpenLineMatchesTheSettingsAndChangesFollowAtOnce) {
  port.SetBaudRate(br9600);
  port.SetStopbits(sbTwo);
  port.SetFlowControl(fwRtsCts);
  port.SetXOnChar(0x05);
  port.OpenPort();
  termios t = pty.SlaveSettings();
  EXPECT_EQ(pty.SlaveSpeed(), 9600u);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_cc[VSTART], 0x05);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);

  port.SetUserBaudRate(250000);  // a speed without a B-code, applied while open
  port.SetFlowControl(fwXOnXOff);
  t = pty.SlaveSettings();
  EXPECT_EQ(pty.SlaveSpeed(), 250000u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

  // Four data bits cannot be set: the error passes and the block is the device's.
  EXPECT_EQ(ErrorText<EAfComPortCoreError>([&] { port.SetDatabits(db4); }), "Error setting parameters from DCB");
  EXPECT_EQ(port.DeviceBlock().ByteSize, 8);
  EXPECT_EQ(port.DeviceBlock().BaudRate, 250000u);
}

TEST_F(ComPort, FourDataBitsRefuseTheOpen) {
  port.SetDatabits(db4);
  EXPECT_EQ(ErrorText<EAfComPortCoreError>([&] { port.OpenPort(); }), "Error setting parameters from DCB");
  EXPECT_FALSE(port.IsPortOpen());
  EXPECT_EQ(opens, 0);
}

TEST_F(ComPort, BufferSizesMayOnlyChangeWhileClosed) {
  port.OpenPort();
  EXPECT_EQ(ErrorText<EAfComPortError>([&] { port.SetInBufSize(8192); }), "Port is not closed - cCom ");
  EXPECT_EQ(port.InBufSize(), 4096);
  port.SetRaiseErrors(false);
  port.SetOutBufSize(64);  // stored anyway; used at the next open
  EXPECT_EQ(port.OutBufferFree(), 2048);
  port.ClosePort();
  port.OpenPort();
  EXPECT_EQ(port.OutBufferFree(), 64);
}

TEST_F(ComPort, SettingsDialogAppliesWhatTheUserChose) {
  port.SetComNumber(kMissingPort);
  EXPECT_FALSE(port.ShowSettingsDialog());  // no device: no dialog

  port.SetComNumber(kPort);
  port.OpenPort();
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<TAfPortSettingsDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "COM301 Settings");
    dialog->SpeedBox()->setCurrentText("57600");
    dialog->StopBitsBox()->setCurrentIndex(2);
    dialog->FlowBox()->setCurrentIndex(fwRtsCts);
    dialog->accept();
  });
  EXPECT_TRUE(port.ShowSettingsDialog());
  EXPECT_EQ(port.BaudRate(), br57600);
  EXPECT_EQ(port.Stopbits(), sbTwo);
  EXPECT_EQ(port.FlowControl(), fwRtsCts);
  EXPECT_EQ(pty.SlaveSpeed(), 57600u);

  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_FALSE(port.ShowSettingsDialog());
  EXPECT_EQ(port.BaudRate(), br57600);
}

TEST_F(ComPort, NonSyncHandlerRunsInTheEventThreadAndItsErrorsReachTheMainThread) {
  std::string reported;
  CaptureExceptionText(reported);
  std::atomic<int> calls{0};
  std::atomic<bool> inMainThread{false};
  int mainThreadEvents = 0;
  port.OnDataRecived = [&](QObject*, int) { ++mainThreadEvents; };
  port.OnNonSyncEvent = [&](QObject*, TAfCoreEvent kind, uint32_t) {
    if (kind != ekCommEvents) return;
    inMainThread = inMainThread || QThread::currentThread() == qApp->thread();
    if (calls++ == 0) throw std::runtime_error("parser failed");
  };
  port.OpenPort();
  pty.WriteAll("x");
  ASSERT_TRUE(WaitWithEvents([&] { return !reported.empty(); }));
  AfSafeSync::SetExceptionHandler(nullptr);
  EXPECT_EQ(reported, "parser failed");
  EXPECT_FALSE(inMainThread);
  EXPECT_EQ(mainThreadEvents, 0);  // handled in the event thread instead
  EXPECT_TRUE(port.IsPortOpen());
}
