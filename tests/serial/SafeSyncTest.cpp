#include "serial/AfSafeSync.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <climits>
#include <thread>
#include <vector>

#include "CaptureErrors.h"
#include "TestWait.h"

namespace {

// A registered slot, unregistered at the end of the test.
struct TSlotGuard {
  explicit TSlotGuard(AfSafeSync::TSyncMethod method) : id(AfSafeSync::RegisterSyncSlot(std::move(method))) {}
  ~TSlotGuard() { AfSafeSync::UnregisterSyncSlot(id); }
  uint32_t id;
};

}  // namespace

TEST(SafeSync, TheTableHoldsSixtyFourSlotsAndReusesFreedOnes) {
  std::vector<uint32_t> ids;
  for (;;) {
    const uint32_t id = AfSafeSync::RegisterSyncSlot([](int) {});
    if (id == 0) break;
    ids.push_back(id);
    ASSERT_LE(ids.size(), 64u);
  }
  EXPECT_FALSE(ids.empty());
  EXPECT_EQ(AfSafeSync::RegisterSyncSlot([](int) {}), 0u);
  AfSafeSync::UnregisterSyncSlot(ids.back());
  const uint32_t again = AfSafeSync::RegisterSyncSlot([](int) {});
  EXPECT_NE(again, 0u);
  EXPECT_NE(again, ids.back());  // IDs are not reused, slots are
  ids.back() = again;
  for (uint32_t id : ids) AfSafeSync::UnregisterSyncSlot(id);
  EXPECT_FALSE(AfSafeSync::EnableSyncSlot(again, true));  // gone
}

TEST(SafeSync, AWorkerRunsTheMethodInTheMainThreadOnlyWhileEnabled) {
  std::atomic<int> runs{0};
  std::atomic<bool> inMainThread{false};
  int seenIndex = 0;
  TSlotGuard slot([&](int index) {
    inMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    seenIndex = index;
    ++runs;
  });
  std::atomic<int> result{-1};
  std::thread disabled([&] { result = AfSafeSync::RunInMainThread(slot.id, 5000); });
  disabled.join();  // a new slot is disabled: refused at once, no wait
  EXPECT_EQ(result, 0);

  ASSERT_TRUE(AfSafeSync::EnableSyncSlot(slot.id, true));
  std::thread worker([&] { result = AfSafeSync::RunInMainThread(slot.id, 5000); });
  ASSERT_TRUE(WaitWithEvents([&] { return result != -1 && result != 0; }));
  worker.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(inMainThread);
  EXPECT_GE(seenIndex, 1);
  EXPECT_LE(seenIndex, 64);
}

TEST(SafeSync, TheMainThreadCallingItselfRunsAtOnce) {
  int runs = 0;
  TSlotGuard slot([&](int) { ++runs; });
  AfSafeSync::EnableSyncSlot(slot.id, true);
  EXPECT_TRUE(AfSafeSync::RunInMainThread(slot.id, 1000));
  EXPECT_EQ(runs, 1);
}

TEST(SafeSync, DisablingReleasesAWorkerWhileTheMainThreadIsBlocked) {
  TSlotGuard slot([](int) {});
  AfSafeSync::EnableSyncSlot(slot.id, true);
  std::atomic<bool> started{false};
  std::atomic<int> result{-1};
  // Without the release this worker would wait practically for ever.
  std::thread worker([&] {
    started = true;
    result = AfSafeSync::RunInMainThread(slot.id, INT_MAX);
  });
  while (!started) std::this_thread::yield();
  // The main thread does not process events here, as when it closes a port.
  AfSafeSync::EnableSyncSlot(slot.id, false);
  worker.join();
  EXPECT_EQ(result, 0);

  AfSafeSync::EnableSyncSlot(slot.id, true);
  result = -1;
  std::thread second([&] { result = AfSafeSync::RunInMainThread(slot.id, INT_MAX); });
  while (result == -1 && !started) std::this_thread::yield();
  AfSafeSync::UnregisterSyncSlot(slot.id);
  second.join();
  EXPECT_EQ(result, 0);
}

TEST(SafeSync, ATimedOutCallStaysTrueAndRunsLater) {
  std::atomic<int> runs{0};
  TSlotGuard slot([&](int) { ++runs; });
  AfSafeSync::EnableSyncSlot(slot.id, true);
  std::atomic<int> result{-1};
  std::thread worker([&] { result = AfSafeSync::RunInMainThread(slot.id, 20); });
  worker.join();  // the main thread is busy joining: the call times out
  EXPECT_EQ(result, 1);
  EXPECT_EQ(runs, 0);
  ASSERT_TRUE(WaitWithEvents([&] { return runs == 1; }));
}

TEST(SafeSync, AnExceptionFromTheMethodGoesToTheHandler) {
  std::string caught;
  CaptureExceptionText(caught);
  TSlotGuard slot([](int) { throw std::runtime_error("handler broke"); });
  AfSafeSync::EnableSyncSlot(slot.id, true);
  std::atomic<int> result{-1};
  std::thread worker([&] { result = AfSafeSync::RunInMainThread(slot.id, 5000); });
  ASSERT_TRUE(WaitWithEvents([&] { return result != -1; }));
  worker.join();
  AfSafeSync::SetExceptionHandler(nullptr);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(caught, "handler broke");
}
