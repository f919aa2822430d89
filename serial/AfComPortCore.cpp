#include "AfComPortCore.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "AfComPortEventThread.h"
#include "AfComPortWriteThread.h"
#include "AfOpenFailure.h"
#include "PortMap.h"

namespace {

constexpr std::chrono::milliseconds kThreadStartLimit{3000};
// A status poll that finds the read lock taken looks again after this pause,
// first checking whether the core is still active: closing holds the lock
// while it joins the event thread. Other holders keep it for microseconds.
constexpr std::chrono::microseconds kReadLockRetry{50};

std::string WithPort(const char* format, int n) {
  char text[96];
  std::snprintf(text, sizeof text, format, n);
  return text;
}

}  // namespace

TAfComPortCore::TAfComPortCore() = default;

TAfComPortCore::~TAfComPortCore() { CloseDevice(); }

bool TAfComPortCore::OpenByNumber(int n) {
  if (m_open || m_port.IsOpen()) return false;
  if (n <= 0) throw EAfComPortCoreError(WithPort("Invalid port number (COM%d)", n));
  m_portNumber = n;
  const std::string path = PortMap::DevicePath(n);
  const auto opened = path.empty() ? TAfPosixPort::orNotFound : m_port.Open(path);
  if (opened == TAfPosixPort::orNotFound) throw EAfComPortCoreError(WithPort("Invalid port number (COM%d)", n));
  if (opened == TAfPosixPort::orFailed)
    throw EAfComPortCoreError(WithPort("Can't open device COM%d", n) + ": " +
                              DescribeOpenFailure(path, TAfPosixPort::LastError()));

  try {
    if (!m_port.SetTimeouts()) Fail("Error setting timeouts");
    if (!m_port.SetQueueSizes(m_inQueueSize, m_outQueueSize)) Fail("Error initializing buffers");
    if (!m_port.SetEventMask(AfEvent::DefaultMask)) Fail(" Error setting EventMask");
    if (!m_port.SetDeviceBlock(m_block)) {
      m_port.GetDeviceBlock(m_block);
      Fail("Error setting parameters from DCB");
    }
    m_port.TakeLineErrors();
    m_lineErrors = 0;
    m_unreportedErrors = 0;
    m_readTotal = 0;
    m_hungUp = false;
    m_pollTimeouts = 0;
    // The wake-up may have failed when the core was made with descriptors exhausted.
    if (!m_eventWake.EnsureValid()) Fail("Error creating threads");
    m_eventWake.Drain();
    TakeThreadException();  // a failure of the last session is no news for this one

    m_writeThread = std::make_unique<TAfComPortWriteThread>(*this, m_port, m_outQueueSize);
    if (!m_writeThread->WaitStarted(kThreadStartLimit)) Fail("Error creating threads");
    m_writeThread->SetPriority(m_writePriority);
    m_active = true;
    m_eventThread = std::make_unique<TAfComPortEventThread>(*this, m_port, m_receiver);
    if (!m_eventThread->WaitStarted(kThreadStartLimit)) Fail("Error creating threads");
    m_eventThread->SetPriority(m_eventPriority);
    m_open = true;
  } catch (...) {
    CloseDevice();
    throw;
  }
  return true;
}

void TAfComPortCore::Fail(const char* message) { throw EAfComPortCoreError(message); }

void TAfComPortCore::CloseIfOpen() {
  if (m_open) CloseDevice();
  m_open = false;
}

void TAfComPortCore::CloseDevice() {
  if (!m_port.IsOpen()) return;
  m_active = false;
  {
    std::unique_lock lock(m_readLock);
    m_port.Purge(AfPurge::TxAbort | AfPurge::RxAbort | AfPurge::TxClear | AfPurge::RxClear);
    // Order matters: the write thread's purge takes the write lock inside this read lock.
    if (m_writeThread) {
      m_writeThread->StopThread();
      m_lastPurgeAcknowledged = m_writeThread->PurgeAcknowledged();
      m_writeThread.reset();
    }
    if (m_eventThread) {
      m_eventThread->StopThread();
      m_eventThread.reset();
    }
  }
  m_port.Close();
  m_open = false;
}

bool TAfComPortCore::QueueWrite(const void* data, size_t count) {
  if (!m_active || !m_writeThread) return false;
  return m_writeThread->Enqueue(data, count);
}

long TAfComPortCore::ReadInto(void* buffer, size_t count) {
  if (!m_active) return -1;
  long got = 0;
  {
    std::lock_guard lock(m_readLock);
    const ssize_t r = m_port.Read(buffer, count);
    if (r > 0) {
      got = static_cast<long>(r);
      m_readTotal += static_cast<uint64_t>(r);
    } else if (r < 0) {
      const int error = m_port.LastError();
      // EIO: the far side is gone (pty master closed, adapter unplugged).
      if (error == EIO || error == ENXIO || error == ENODEV) m_hungUp = true;
    }
  }
  // The event thread stops watching for input while bytes wait unread; tell it
  // that they were taken, so new input wakes it again.
  if (m_inputWaiting || m_hungUp) m_eventWake.Signal();
  return got;
}

TAfComStatus TAfComPortCore::PollStatus(uint64_t* readTotal) {
  if (!m_active) return {};
  std::unique_lock lock(m_readLock, std::defer_lock);
  while (!lock.try_lock()) {
    if (!m_active) return {};
    std::this_thread::sleep_for(kReadLockRetry);
  }
  if (!m_active) return {};
  TAfComStatus status;
  status.errors = m_port.TakeLineErrors();
  if (status.errors != 0) {
    m_lineErrors |= status.errors;
    m_unreportedErrors |= status.errors;
  }
  status.inQueue = m_port.InCount();
  status.outQueue = m_port.OutCount();
  if (readTotal) *readTotal = m_readTotal;
  return status;
}

uint32_t TAfComPortCore::TakeErrors() {
  if (!m_active) return 0;
  std::lock_guard lock(m_readLock);
  const uint32_t errors = m_lineErrors;
  m_lineErrors = 0;
  return errors;
}

int TAfComPortCore::OutputFree() {
  if (!m_active || !m_writeThread) return 0;
  std::lock_guard lock(m_writeLock);
  return static_cast<int>(m_writeThread->FreeLocked());
}

void TAfComPortCore::SetDeviceBlock(const TAfDcb& block) {
  m_block = block;
  if (!m_active) return;
  if (!m_port.SetDeviceBlock(m_block)) {
    m_port.GetDeviceBlock(m_block);
    throw EAfComPortCoreError("Error setting parameters from DCB");
  }
}

bool TAfComPortCore::ReadDeviceBlock(TAfDcb& block) { return m_port.IsOpen() && m_port.GetDeviceBlock(block); }

void TAfComPortCore::EscapeFunction(uint32_t code) {
  if (m_active) m_port.Escape(code);
}

void TAfComPortCore::SetQueueSizes(uint32_t inQueue, uint32_t outQueue) {
  m_inQueueSize = inQueue;
  m_outQueueSize = outQueue;
}

void TAfComPortCore::SetPriorities(TThreadPriority writePriority, TThreadPriority eventPriority) {
  m_writePriority = writePriority;
  m_eventPriority = eventPriority;
  if (!m_active) return;
  if (m_writeThread) m_writeThread->SetPriority(writePriority);
  if (m_eventThread) m_eventThread->SetPriority(eventPriority);
}

std::exception_ptr TAfComPortCore::TakeThreadException() {
  std::lock_guard lock(m_exceptionMutex);
  return std::exchange(m_threadException, nullptr);
}

void TAfComPortCore::SetThreadException(std::exception_ptr error) {
  std::lock_guard lock(m_exceptionMutex);
  m_threadException = std::move(error);
}

uint64_t TAfComPortCore::DeviceWrites() const { return m_writeThread ? m_writeThread->DeviceWrites() : 0; }

void TAfComPortCore::SignalOutputEmpty() {
  m_outputEmpty = true;
  m_eventWake.Signal();
}
