#include "AfComPortEventThread.h"

#include <cerrno>
#include <poll.h>

#include "AfComErrors.h"
#include "AfPosixPort.h"
#include "AfSafeSync.h"

namespace {
// Unread input and modem-line changes are noticed within this time even when
// the device raises nothing.
constexpr int kPollLimitMs = 200;
}  // namespace

TAfComPortEventThread::TAfComPortEventThread(TAfComPortCore& core, TAfPosixPort& port,
                                             TAfComPortCore::TReceiver receiver)
    : TAfComPortCoreThread(core, port), m_receiver(std::move(receiver)) {
  Start();
}

TAfComPortEventThread::~TAfComPortEventThread() { CommonStop(); }

void TAfComPortEventThread::StopThread() {
  {
    std::lock_guard lock(m_receiverMutex);
    m_receiver = nullptr;
  }
  MarkTerminated();
  m_port.Purge(AfPurge::RxAbort | AfPurge::RxClear);
  CommonStop();
}

void TAfComPortEventThread::Execute() {
  m_core.m_outputEmpty = false;
  SignalStarted();

  uint64_t lastArrived = 0;
  uint32_t lastInQueue = 0;
  bool hungUp = false;
  while (!Terminated()) {
    const bool inputWaiting = lastInQueue > 0;
    pollfd fds[3] = {{m_stopEvent.Fd(), POLLIN, 0},
                     {m_core.m_eventWake.Fd(), POLLIN, 0},
                     {hungUp ? -1 : m_port.Handle(), static_cast<short>(inputWaiting ? 0 : POLLIN), 0}};
    const int ready = ::poll(fds, 3, hungUp ? -1 : kPollLimitMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready == 0) ++m_core.m_pollTimeouts;
    if (Terminated() || (fds[0].revents & POLLIN)) break;
    if (fds[1].revents & POLLIN) m_core.m_eventWake.Drain();

    if (m_core.m_outputEmpty.exchange(false)) Report(ekOutputEmpty, 0);
    if (hungUp) continue;
    // A read that failed with EIO also means the device is gone.
    if ((fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) || m_core.m_hungUp) {
      hungUp = true;
      m_core.m_hungUp = true;
      Report(ekHangUp, 0);
      continue;
    }

    uint64_t readTotal = 0;
    const TAfComStatus status = m_core.PollStatus(&readTotal);
    if (!m_core.IsActive()) continue;
    const uint64_t arrived = readTotal + status.inQueue;
    uint32_t mask = 0;
    if (arrived > lastArrived) mask |= AfEvent::RxChar;
    lastArrived = arrived;
    lastInQueue = status.inQueue;
    // Set before the report: the receiver usually reads the bytes at once, and
    // that read must wake this thread, or the next input would wait for the
    // poll limit.
    m_core.m_inputWaiting = lastInQueue > 0;
    mask |= m_port.TakeModemEvents();
    if (m_core.m_unreportedErrors.exchange(0) != 0) mask |= AfEvent::Err;
    mask &= m_port.EventMask();

    if (mask != 0)
      Report(ekCommEvents, mask);
    else if (ready == 0 && status.inQueue > 0)
      Report(ekDataPending, status.inQueue);
  }
}

void TAfComPortEventThread::Report(TAfCoreEvent kind, uint32_t data) {
  TAfComPortCore::TReceiver receiver;
  {
    std::lock_guard lock(m_receiverMutex);
    receiver = m_receiver;
  }
  if (!receiver) return;
  try {
    receiver(m_core, kind, data);
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void TAfComPortEventThread::HandleException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAfAbort&) {
    return;
  } catch (...) {
  }
  bool haveReceiver;
  {
    std::lock_guard lock(m_receiverMutex);
    haveReceiver = static_cast<bool>(m_receiver);
  }
  if (!haveReceiver) {
    AfSafeSync::ShowException(error);
    return;
  }
  m_core.SetThreadException(error);
  TAfComPortCore::TReceiver receiver;
  {
    std::lock_guard lock(m_receiverMutex);
    receiver = m_receiver;
  }
  if (!receiver) return;
  // A second failure while reporting the first is dropped: the thread goes on.
  try {
    receiver(m_core, ekException, 0);
  } catch (...) {
  }
}
