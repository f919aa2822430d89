#include "AfComPortWriteThread.h"

#include <cerrno>
#include <mutex>
#include <poll.h>

#include "AfComErrors.h"
#include "AfComPortCore.h"
#include "AfPosixPort.h"

namespace {
// How long closing waits for the thread to let go of a pending write.
constexpr std::chrono::milliseconds kPurgeAckLimit{2000};

std::mutex g_traceMutex;
std::function<void(TAfComPortWriteThread::TTracePoint)> g_traceHook;

void Trace(TAfComPortWriteThread::TTracePoint point) {
  std::function<void(TAfComPortWriteThread::TTracePoint)> hook;
  {
    std::lock_guard lock(g_traceMutex);
    hook = g_traceHook;
  }
  if (hook) hook(point);
}
}  // namespace

void TAfComPortWriteThread::SetTraceHook(std::function<void(TTracePoint)> hook) {
  std::lock_guard lock(g_traceMutex);
  g_traceHook = std::move(hook);
}

TAfComPortWriteThread::TAfComPortWriteThread(TAfComPortCore& core, TAfPosixPort& port, size_t bufferSize)
    : TAfComPortCoreThread(core, port), m_buffer(bufferSize) {
  // Without its wake-up the thread would never see queued data or a purge.
  if (!m_wake.IsValid()) throw EAfComPortCoreError("Error creating threads");
  Start();
}

TAfComPortWriteThread::~TAfComPortWriteThread() { CommonStop(); }

bool TAfComPortWriteThread::Enqueue(const void* data, size_t count) {
  {
    std::lock_guard lock(m_core.m_writeLock);
    if (!m_buffer.Append(data, count)) return false;
  }
  m_dataReady = true;
  m_wake.Signal();
  return true;
}

bool TAfComPortWriteThread::PurgeOutput() {
  m_purgeRequest = true;
  m_wake.Signal();
  if (!m_purgeAck.try_acquire_for(kPurgeAckLimit)) return false;
  bool purged;
  {
    std::lock_guard lock(m_core.m_writeLock);
    m_dataReady = false;
    m_buffer.Reset();
    purged = m_port.Purge(AfPurge::TxAbort | AfPurge::TxClear);
  }
  m_purgeDone = true;
  m_wake.Signal();
  return purged;
}

void TAfComPortWriteThread::AcknowledgePurge() {
  m_holding = true;
  m_purgeAck.release();
  Trace(wtPurgeAcknowledged);
}

void TAfComPortWriteThread::StopThread() {
  m_purgeAcknowledged = PurgeOutput();
  CommonStop();
}

void TAfComPortWriteThread::Execute() {
  SignalStarted();
  while (!Terminated()) {
    // Flags are looked at before every wait; their wake-up signal stays
    // counted in m_wake, so a request made in between is not slept through.
    if (m_purgeRequest.exchange(false)) {
      AcknowledgePurge();
      continue;
    }
    if (m_purgeDone.exchange(false)) m_holding = false;
    if (!m_holding && m_dataReady.exchange(false)) {
      WritePiece();
      continue;
    }
    pollfd fds[2] = {{m_stopEvent.Fd(), POLLIN, 0}, {m_wake.Fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & POLLIN) m_wake.Drain();
  }
}

bool TAfComPortWriteThread::WritePiece() {
  const uint8_t* piece;
  size_t length;
  {
    std::lock_guard lock(m_core.m_writeLock);
    length = m_buffer.ContiguousUsed();
    piece = m_buffer.ReadPointer();
  }
  if (length == 0) return true;
  size_t done = 0;
  while (done < length) {
    Trace(wtDeviceWrite);
    const ssize_t written = m_port.Write(piece + done, length - done);
    if (written > 0) {
      ++m_deviceWrites;
      done += static_cast<size_t>(written);
      std::lock_guard lock(m_core.m_writeLock);
      m_buffer.Discard(static_cast<size_t>(written));
      continue;
    }
    if (written < 0 && (m_port.LastError() == EAGAIN || m_port.LastError() == EWOULDBLOCK)) {
      if (!WaitWritable()) return false;
      continue;
    }
    return true;  // the driver refused: the rest stays queued until the next enqueue
  }
  bool empty;
  {
    std::lock_guard lock(m_core.m_writeLock);
    empty = m_buffer.Used() == 0;
    if (!empty) m_dataReady = true;  // the wrapped rest goes out as the next piece
  }
  if (empty) m_core.SignalOutputEmpty();
  return true;
}

bool TAfComPortWriteThread::WaitWritable() {
  for (;;) {
    pollfd fds[3] = {{m_stopEvent.Fd(), POLLIN, 0}, {m_wake.Fd(), POLLIN, 0}, {m_port.Handle(), POLLOUT, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[0].revents & POLLIN) {
      MarkTerminated();
      return false;
    }
    if (fds[1].revents & POLLIN) {
      m_wake.Drain();
      // A pending write is left to the purge that asked.
      if (m_purgeRequest.exchange(false)) {
        AcknowledgePurge();
        return false;
      }
    }
    if (fds[2].revents & POLLOUT) return true;
    if (fds[2].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
  }
}
