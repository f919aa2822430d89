#include "serial/AfComPortCore.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "PtyPair.h"
#include "TestWait.h"
#include "serial/PortMap.h"

namespace {

TAfDcb PlainBlock(uint32_t rate = 115200) {
  TAfDcb b;
  b.DCBlength = kAfDcbLength;
  b.BaudRate = rate;
  b.ByteSize = 8;
  b.Flags = AfDcbFlag::Binary | AfDcbFlag::DtrEnable | AfDcbFlag::RtsEnable;
  b.XonChar = 17;
  b.XoffChar = 19;
  return b;
}

// Records what the event thread reports; waits for reports with a deadline.
class TRecorder {
 public:
  struct Event {
    TAfCoreEvent kind;
    uint32_t data;
  };
  std::function<void(TAfComPortCore&, TAfCoreEvent, uint32_t)> onEvent;

  TAfComPortCore::TReceiver Receiver() {
    return [this](TAfComPortCore& core, TAfCoreEvent kind, uint32_t data) {
      {
        std::lock_guard lock(m_mutex);
        m_events.push_back({kind, data});
      }
      m_changed.notify_all();
      if (onEvent) onEvent(core, kind, data);
      m_changed.notify_all();  // conditions may look at what onEvent changed
    };
  }
  bool WaitFor(const std::function<bool(const std::vector<Event>&)>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return condition(m_events); });
  }
  static size_t CountIn(const std::vector<Event>& events, TAfCoreEvent kind) {
    size_t n = 0;
    for (const auto& e : events) n += e.kind == kind;
    return n;
  }
  size_t Count(TAfCoreEvent kind) {
    std::lock_guard lock(m_mutex);
    return CountIn(m_events, kind);
  }
  std::vector<Event> Events() {
    std::lock_guard lock(m_mutex);
    return m_events;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Event> m_events;
};

constexpr int kPort = 201;

class ComPortCore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.IsValid());
    PortMap::SetExplicitPorts({{kPort, pty.SlavePath()}, {kPort + 1, "/dev/orvane-missing"}});
    core.SetDeviceBlock(PlainBlock());
    core.SetReceiver(recorder.Receiver());
  }
  void TearDown() override { PortMap::SetExplicitPorts({}); }

  std::string OpenError(TAfComPortCore& c, int n) {
    try {
      c.OpenByNumber(n);
    } catch (const EAfComPortCoreError& e) {
      return e.what();
    }
    return "(no error)";
  }

  TPtyPair pty;
  TRecorder recorder;
  TAfComPortCore core;
};

}  // namespace

TEST_F(ComPortCore, OpenFailuresRaiseThePortTextsAndLeaveNothingOpen) {
  EXPECT_EQ(OpenError(core, 0), "Invalid port number (COM0)");
  EXPECT_EQ(OpenError(core, -3), "Invalid port number (COM-3)");
  EXPECT_EQ(OpenError(core, kPort + 1), "Invalid port number (COM202)");  // mapped, device missing
  EXPECT_EQ(OpenError(core, 999), "Invalid port number (COM999)");       // outside every table
  EXPECT_FALSE(core.IsOpen());

  TAfComPortCore holder;
  holder.SetDeviceBlock(PlainBlock());
  ASSERT_TRUE(holder.OpenByNumber(kPort));
  EXPECT_EQ(OpenError(core, kPort).substr(0, 24), "Can't open device COM201");
  EXPECT_FALSE(core.IsOpen());
  EXPECT_FALSE(holder.OpenByNumber(kPort));  // already open: nothing
  holder.CloseIfOpen();
  EXPECT_TRUE(core.OpenByNumber(kPort));
}

TEST_F(ComPortCore, RefusedSettingsCloseTheDeviceAndKeepItsOwnBlock) {
  TAfDcb fourBits = PlainBlock(38400);
  fourBits.ByteSize = 4;
  core.SetDeviceBlock(fourBits);
  EXPECT_EQ(OpenError(core, kPort), "Error setting parameters from DCB");
  EXPECT_FALSE(core.IsOpen());
  EXPECT_EQ(core.DeviceBlock().ByteSize, 8);  // read back from the device
  TAfComPortCore other;
  other.SetDeviceBlock(PlainBlock());
  EXPECT_TRUE(other.OpenByNumber(kPort));  // the failed open let go of the device
  other.CloseIfOpen();

  core.SetDeviceBlock(PlainBlock(9600));
  ASSERT_TRUE(core.OpenByNumber(kPort));
  EXPECT_THROW(core.SetDeviceBlock(fourBits), EAfComPortCoreError);
  EXPECT_EQ(core.DeviceBlock().BaudRate, 9600u);
  EXPECT_EQ(pty.SlaveSpeed(), 9600u);
}

TEST_F(ComPortCore, WrappedRingGoesOutInTwoWritesWithOneOutputEmpty) {
  core.SetQueueSizes(4096, 64);
  ASSERT_TRUE(core.OpenByNumber(kPort));
  const std::string first(40, 'a');
  ASSERT_TRUE(core.QueueWrite(first.data(), first.size()));
  ASSERT_TRUE(recorder.WaitFor([](auto& e) { return !e.empty() && e.back().kind == ekOutputEmpty; }));
  EXPECT_EQ(pty.ReadExactly(40), first);
  const uint64_t writesBefore = core.DeviceWrites();
  const size_t emptiesBefore = recorder.Count(ekOutputEmpty);

  std::string second;
  for (int i = 0; i < 40; ++i) second += static_cast<char>('A' + i % 26);
  ASSERT_TRUE(core.QueueWrite(second.data(), second.size()));  // 24 bytes to the end, 16 from the start
  EXPECT_EQ(pty.ReadExactly(40), second);
  ASSERT_TRUE(recorder.WaitFor([&](auto& e) { return TRecorder::CountIn(e, ekOutputEmpty) > emptiesBefore; }));
  EXPECT_EQ(core.DeviceWrites() - writesBefore, 2u);
  EXPECT_EQ(recorder.Count(ekOutputEmpty) - emptiesBefore, 1u);
  EXPECT_EQ(core.OutputFree(), 64);
}

TEST_F(ComPortCore, BlockLargerThanTheFreeRoomIsRefusedWhole) {
  core.SetQueueSizes(4096, 16);
  EXPECT_FALSE(core.QueueWrite("x", 1));  // not open
  ASSERT_TRUE(core.OpenByNumber(kPort));
  const std::string tooBig(17, 'z');
  EXPECT_FALSE(core.QueueWrite(tooBig.data(), tooBig.size()));
  EXPECT_EQ(core.OutputFree(), 16);
  EXPECT_EQ(pty.ReadAvailable(), "");
}

TEST_F(ComPortCore, ArrivingBytesRaiseTheReceiveEventAndUnreadOnesTurnIntoDataPending) {
  // The receiver reads one byte per event and leaves the rest waiting.
  recorder.onEvent = [](TAfComPortCore& c, TAfCoreEvent kind, uint32_t) {
    if (kind != ekCommEvents) return;
    char b;
    c.ReadInto(&b, 1);
  };
  ASSERT_TRUE(core.OpenByNumber(kPort));
  pty.WriteAll("abcdef");
  ASSERT_TRUE(recorder.WaitFor([](auto& e) {
    for (const auto& x : e)
      if (x.kind == ekCommEvents && (x.data & AfEvent::RxChar)) return true;
    return false;
  }));
  // Nothing new arrives: what is left is reported by the time-out poll with its count.
  ASSERT_TRUE(recorder.WaitFor([](auto& e) { return !e.empty() && e.back().kind == ekDataPending; }));
  const auto events = recorder.Events();
  EXPECT_GE(events.back().data, 1u);
  EXPECT_LE(events.back().data, 5u);
  size_t receives = 0;
  for (const auto& e : events) receives += e.kind == ekCommEvents;
  EXPECT_LE(receives, 2u);  // unread bytes are not reported again as new ones
}

TEST_F(ComPortCore, ReceiverExceptionIsCarriedAsAnEventAndTheThreadGoesOn) {
  std::atomic<int> thrown{0};
  recorder.onEvent = [&](TAfComPortCore& c, TAfCoreEvent kind, uint32_t) {
    if (kind != ekCommEvents) return;
    char b[64];
    c.ReadInto(b, sizeof b);
    if (thrown++ == 0) throw std::runtime_error("handler failed");
  };
  ASSERT_TRUE(core.OpenByNumber(kPort));
  pty.WriteAll("1");
  ASSERT_TRUE(recorder.WaitFor([](auto& e) { return !e.empty() && e.back().kind == ekException; }));
  auto error = core.TakeThreadException();
  ASSERT_TRUE(error);
  EXPECT_THROW(std::rethrow_exception(error), std::runtime_error);
  pty.WriteAll("2");
  ASSERT_TRUE(recorder.WaitFor([&](auto&) { return thrown.load() >= 2; }));
}

TEST_F(ComPortCore, CloseWhileAWriteIsPendingIsAcknowledgedAndJoins) {
  core.SetQueueSizes(4096, 1 << 20);
  ASSERT_TRUE(core.OpenByNumber(kPort));
  // The far side reads nothing, so the pty fills and the write thread waits for room.
  const std::string block(1 << 20, 'w');
  ASSERT_TRUE(core.QueueWrite(block.data(), block.size()));
  int lastFree = -1;
  int steady = 0;
  ASSERT_TRUE(WaitWithEvents([&] {
    const int free = core.OutputFree();
    steady = free == lastFree ? steady + 1 : 0;
    lastFree = free;
    return core.DeviceWrites() > 0 && steady >= 5;
  }));
  ASSERT_LT(lastFree, 1 << 20);
  core.CloseIfOpen();
  EXPECT_FALSE(core.IsOpen());
  EXPECT_TRUE(core.LastPurgeAcknowledged());
  EXPECT_EQ(core.OutputFree(), 0);
}

TEST_F(ComPortCore, HangUpIsReportedOnceAndTheThreadsStayIdle) {
  ASSERT_TRUE(core.OpenByNumber(kPort));
  pty.CloseMaster();
  ASSERT_TRUE(recorder.WaitFor([](auto& e) { return !e.empty() && e.back().kind == ekHangUp; }));
  EXPECT_TRUE(core.IsHungUp());
  core.QueueWrite("x", 1);  // a refused device write must not leave the write thread spinning

  // Left open on purpose: a spinning event or write thread would burn a core.
  const double cpuBefore = ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const double cpuUsed = ProcessCpuMs() - cpuBefore;
  EXPECT_LT(cpuUsed, 100.0) << "worker threads busy after the hang-up";
  EXPECT_EQ(recorder.Count(ekHangUp), 1u);
  core.CloseIfOpen();
  EXPECT_FALSE(core.IsOpen());
}

// Regression: a read made while the receiver ran did not wake the event thread,
// so each following line waited for the 200 ms poll limit.
TEST_F(ComPortCore, LinesReadAtOnceDoNotWaitForThePollLimit) {
  std::atomic<size_t> received{0};
  recorder.onEvent = [&](TAfComPortCore& c, TAfCoreEvent, uint32_t) {
    char buffer[256];
    long n;
    while ((n = c.ReadInto(buffer, sizeof buffer)) > 0) received += static_cast<size_t>(n);
  };
  ASSERT_TRUE(core.OpenByNumber(kPort));
  const uint64_t timeoutsBefore = core.PollTimeouts();
  for (int i = 0; i < 20; ++i) {
    pty.WriteAll(":io 1\r");
    ASSERT_TRUE(recorder.WaitFor([&](auto&) { return received.load() == 6u * (i + 1); }));
  }
  // Twenty round trips take milliseconds; the fault costs one time-out each.
  EXPECT_LE(core.PollTimeouts() - timeoutsBefore, 3u);
}
