// The port's life across opens and closes, on pseudo-terminals.
#include <gtest/gtest.h>

#include <QThread>
#include <algorithm>
#include <csignal>
#include <ctime>
#include <fstream>
#include <grp.h>
#include <mutex>
#include <pthread.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CaptureErrors.h"
#include "PtyPair.h"
#include "TestWait.h"
#include "serial/AfComPort.h"
#include "serial/AfComPortCore.h"
#include "serial/AfComPortWriteThread.h"
#include "serial/AfSafeSync.h"
#include "serial/PortMap.h"

namespace {

constexpr uint16_t kPort = 401;
constexpr uint16_t kSecondPort = 402;

// The lowest descriptor number the next open would get.
int NextFreeDescriptor() {
  const int fd = ::dup(0);
  ::close(fd);
  return fd;
}

// Lowers the descriptor limit for the life of the object.
class TDescriptorLimit {
 public:
  explicit TDescriptorLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_NOFILE, &m_saved);
    rlimit lowered = m_saved;
    lowered.rlim_cur = limit;
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~TDescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }

 private:
  rlimit m_saved{};
};

// Waits without running the event loop, so that calls posted to the main thread stay queued.
bool WaitWithoutEvents(const std::function<bool()>& condition) {
  for (int i = 0; i < 10000; ++i) {
    if (condition()) return true;
    QThread::usleep(1000);
  }
  return false;
}

// Runs action in a forked child and returns the text it gives back ("(child died)"
// when it ends otherwise).
std::string InChild(const std::function<std::string()>& action) {
  int result[2];
  if (::pipe(result) != 0) return "(no pipe)";
  const pid_t child = ::fork();
  if (child == 0) {
    std::string text;
    try {
      text = action();
    } catch (const std::exception& e) {
      text = std::string("(unexpected) ") + e.what();
    }
    (void)!::write(result[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(result[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(result[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  ::close(result[0]);
  int status = -1;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "(child died) " + text;
}

class PortLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.IsValid() && second.IsValid());
    PortMap::SetExplicitPorts({{kPort, pty.SlavePath()}, {kSecondPort, second.SlavePath()}});
  }
  void TearDown() override {
    PortMap::SetExplicitPorts({});
    AfSafeSync::SetExceptionHandler(nullptr);
  }
  std::unique_ptr<TAfComPort> NewPort() {
    auto port = std::make_unique<TAfComPort>();
    port->SetComNumber(kPort);
    return port;
  }

  TPtyPair pty;
  TPtyPair second;
};

}  // namespace

TEST_F(PortLifecycle, OpenWithoutDescriptorsForItsThreadsFailsCleanly) {
  auto port = NewPort();
  const int next = NextFreeDescriptor();
  std::string error;
  {
    TDescriptorLimit limit(static_cast<rlim_t>(next) + 1);  // the device fits, nothing more
    error = ErrorText<EAfComPortCoreError>([&] { port->OpenPort(); });
  }
  if (port->IsPortOpen()) {
    // Its threads can never be woken, so closing it would hang the run.
    (void)port.release();
    FAIL() << "the port opened without its wake-up descriptors";
  }
  EXPECT_EQ(error, "Error creating threads");
  EXPECT_EQ(NextFreeDescriptor(), next);  // nothing stays open
  port->OpenPort();
  port->WriteText("after");
  EXPECT_EQ(pty.ReadExactly(5), "after");
  port->ClosePort();
}

TEST_F(PortLifecycle, OpenWithoutItsThreadsFailsCleanly) {
  // The process limit binds only users other than root, so the open runs as nobody,
  // who may use the device.
  ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0666), 0);
  EXPECT_EQ(InChild([] {
              if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return std::string("no nobody");
              const rlimit one{1, 1};  // this process is the user's only one
              ::setrlimit(RLIMIT_NPROC, &one);
              TAfComPortCore core;
              TAfDcb block;
              block.DCBlength = kAfDcbLength;
              block.BaudRate = 9600;
              block.ByteSize = 8;
              core.SetDeviceBlock(block);
              const std::string text = ErrorText<EAfComPortCoreError>([&] { core.OpenByNumber(kPort); });
              return text + (core.IsOpen() ? " (open)" : "");
            }),
            "Error creating threads");
}

TEST_F(PortLifecycle, EventsOfAnEndedSessionNeverReachTheNextOne) {
  std::string reported;
  CaptureExceptionText(reported);
  const struct {
    const char* how;
    bool failInEventThread;
    bool moveToOtherPort;
  } rows[] = {
      {"data, then closed and opened again", false, false},
      {"data, then moved to another port", false, true},
      {"event thread failure, then closed and opened again", true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.how);
    reported.clear();
    auto port = NewPort();
    int received = 0;
    std::string text;
    port->OnDataRecived = [&](QObject*, int) {
      ++received;
      text += port->ReadAllText();
    };
    if (row.failInEventThread)
      port->OnNonSyncEvent = [](QObject*, TAfCoreEvent kind, uint32_t) {
        if (kind == ekCommEvents) throw std::runtime_error("old session failed");
      };
    port->OpenPort();
    pty.WriteAll("old");
    // The event thread has handed its event over; the main thread has not run it yet.
    ASSERT_TRUE(WaitWithoutEvents([] { return AfSafeSync::PostedCallsPending() > 0; }));
    if (row.moveToOtherPort) {
      port->SetComNumber(kSecondPort);
    } else {
      port->ClosePort();
      port->OnNonSyncEvent = nullptr;
      port->OpenPort();
    }
    ASSERT_TRUE(WaitWithEvents([] { return AfSafeSync::PostedCallsPending() == 0; }));
    EXPECT_EQ(received, 0);
    EXPECT_EQ(reported, "");

    (row.moveToOtherPort ? second : pty).WriteAll("new");
    EXPECT_TRUE(WaitWithEvents([&] { return text == "new"; })) << text;
    port->ClosePort();
    pty.ReadAvailable();
    second.ReadAvailable();
  }
}

// Holds the main thread up for a moment wherever it is, from another thread.
void StallMainThread(int) {
  const timespec pause{0, 100 * 1000 * 1000};
  ::nanosleep(&pause, nullptr);
}

TEST_F(PortLifecycle, NothingIsWrittenAfterThePurgeOfTheCloseWasAcknowledged) {
  // The far side reads nothing, so the write thread waits for room when the close
  // comes, with more output queued behind the piece it holds.
  auto port = NewPort();
  port->SetOutBufSize(1 << 20);
  port->OpenPort();
  port->WriteText(std::string(1 << 19, 'a'));
  int lastFree = -1;
  int steady = 0;
  ASSERT_TRUE(WaitWithEvents([&] {
    const int free = port->OutBufferFree();
    steady = free == lastFree ? steady + 1 : 0;
    lastFree = free;
    return free > (1 << 19) && steady >= 5;
  }));
  port->WriteText(std::string(1000, 'b'));

  // Right after its acknowledgement the write thread gets a head start on the closing
  // main thread, which is held up in a signal handler.
  struct sigaction stall {}, saved{};
  stall.sa_handler = StallMainThread;
  ASSERT_EQ(::sigaction(SIGUSR1, &stall, &saved), 0);
  const pthread_t mainThread = ::pthread_self();
  std::mutex mutex;
  std::vector<TAfComPortWriteThread::TTracePoint> trace;
  TAfComPortWriteThread::SetTraceHook([&](TAfComPortWriteThread::TTracePoint point) {
    {
      std::lock_guard lock(mutex);
      trace.push_back(point);
    }
    if (point == TAfComPortWriteThread::wtPurgeAcknowledged) ::pthread_kill(mainThread, SIGUSR1);
  });
  // What the far side's line discipline already holds survives the purge; whatever
  // else reaches it was written after the purge.
  int held = -1;
  ASSERT_EQ(::ioctl(pty.Master(), FIONREAD, &held), 0);
  port->ClosePort();
  TAfComPortWriteThread::SetTraceHook({});
  ::sigaction(SIGUSR1, &saved, nullptr);

  const auto acknowledged = std::find(trace.begin(), trace.end(), TAfComPortWriteThread::wtPurgeAcknowledged);
  ASSERT_NE(acknowledged, trace.end());
  EXPECT_EQ(std::count(acknowledged, trace.end(), TAfComPortWriteThread::wtDeviceWrite), 0);
  EXPECT_EQ(pty.ReadAvailable(std::chrono::milliseconds(100)).size(), static_cast<size_t>(held));
}

TEST_F(PortLifecycle, RefusedOpensSayWhyAndWhatToDo) {
  // Held by another open: the holder's process is named.
  auto holder = NewPort();
  holder->OpenPort();
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  auto port = NewPort();
  EXPECT_EQ(ErrorText<EAfComPortCoreError>([&] { port->OpenPort(); }),
            "Can't open device COM401: " + pty.SlavePath() + " is in use by process " + std::to_string(::getpid()) +
                " (" + comm + ")");
  holder->ClosePort();

  // Refused for permission: as a user outside the device's group.
  const group* dialout = ::getgrnam("dialout");
  const bool root = ::geteuid() == 0;
  if (root && dialout) {
    ASSERT_EQ(::chown(pty.SlavePath().c_str(), 0, dialout->gr_gid), 0);
  }
  ASSERT_EQ(::chmod(pty.SlavePath().c_str(), root ? 0660 : 0), 0);
  struct stat st {};
  ASSERT_EQ(::stat(pty.SlavePath().c_str(), &st), 0);
  const group* owner = ::getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string groupName = owner->gr_name;
  const std::string text = InChild([&] {
    // Root passes every permission check, so the open runs as nobody.
    if (root && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
      return std::string("no nobody");
    TAfComPortCore core;
    return ErrorText<EAfComPortCoreError>([&] { core.OpenByNumber(kPort); });
  });
  EXPECT_EQ(text, "Can't open device COM401: permission denied for " + pty.SlavePath() + ", which belongs to group " +
                      groupName + "; the user must be a member of group " + groupName + " (then log in again)");
}
