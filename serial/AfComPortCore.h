#pragma once
// TAfComPortCore: owns the open serial device and its two worker threads (an
// event thread that reports line events, a write thread that drains the output
// ring buffer). Reports go to one receiver, called in the event thread.
//
// Thread: open, close, settings, reads and writes from the owner's thread (the
// main thread); PollStatus also from the event thread.
// Locks: the read lock serialises status polls, reads and the body of
// CloseDevice; the write lock serialises the ring buffer and the output purge.
// CloseDevice takes the write lock inside the read lock; no path takes them in
// the other order. The event thread's polls give up the read lock wait once
// the core is no longer active, so closing can join it while holding the lock.
//
// The receiver must return (or throw) in bounded time: closing joins the event
// thread. Open failures raise EAfComPortCoreError; nothing else raises except
// SetDeviceBlock on an open device.

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "AfComErrors.h"
#include "AfComTypes.h"
#include "AfEventFd.h"
#include "AfPosixPort.h"

class TAfComPortEventThread;
class TAfComPortWriteThread;

class TAfComPortCore {
 public:
  using TReceiver = std::function<void(TAfComPortCore& core, TAfCoreEvent kind, uint32_t data)>;

  TAfComPortCore();
  ~TAfComPortCore();
  TAfComPortCore(const TAfComPortCore&) = delete;
  TAfComPortCore& operator=(const TAfComPortCore&) = delete;

  // False when already open. n <= 0, no path in the port map, or a missing
  // device: "Invalid port number (COM%d)"; a device held elsewhere or refused:
  // "Can't open device COM%d: " and the reason (see AfOpenFailure.h); later
  // set-up steps raise their own texts, a wake-up descriptor or thread the
  // system refuses "Error creating threads". After a failure nothing stays open.
  bool OpenByNumber(int n);
  void CloseIfOpen();
  bool IsOpen() const { return m_open; }
  bool IsActive() const { return m_active; }
  int PortNumber() const { return m_portNumber; }

  // Copies the block into the ring buffer whole; false when not active or it
  // does not fit.
  bool QueueWrite(const void* data, size_t count);
  // Reads what is buffered, up to count bytes, without waiting; -1 when not active.
  long ReadInto(void* buffer, size_t count);
  // Takes new line errors into the accumulated flags and returns them with the
  // queue counts; all zero when not active. readTotal, when given, receives the
  // bytes read through the core so far (same moment as the input count).
  TAfComStatus PollStatus(uint64_t* readTotal = nullptr);
  uint32_t TakeErrors();
  int OutputFree();

  // Applied at once when active; a refusal reads the device's block back into
  // the core's copy and raises "Error setting parameters from DCB".
  void SetDeviceBlock(const TAfDcb& block);
  const TAfDcb& DeviceBlock() const { return m_block; }
  // The open device's current settings; false when not open.
  bool ReadDeviceBlock(TAfDcb& block);
  void EscapeFunction(uint32_t code);
  void SetQueueSizes(uint32_t inQueue, uint32_t outQueue);
  void SetPriorities(TThreadPriority writePriority, TThreadPriority eventPriority);
  void SetReceiver(TReceiver receiver) { m_receiver = std::move(receiver); }

  // The device went away (poll hang-up or EIO); stays set until the next open.
  bool IsHungUp() const { return m_hungUp; }
  // The exception that the event thread carries to ekException.
  std::exception_ptr TakeThreadException();
  // Device writes that moved bytes since the open; for tests and benchmarks.
  uint64_t DeviceWrites() const;
  // Times the event thread's wait ran into its limit since the open; for tests.
  uint64_t PollTimeouts() const { return m_pollTimeouts; }
  // Whether the last close got the write thread's purge acknowledgement (a
  // pending write was given up rather than waited out).
  bool LastPurgeAcknowledged() const { return m_lastPurgeAcknowledged; }

 private:
  friend class TAfComPortEventThread;
  friend class TAfComPortWriteThread;

  void CloseDevice();
  [[noreturn]] void Fail(const char* format);
  void SignalOutputEmpty();
  void SetThreadException(std::exception_ptr error);

  TAfPosixPort m_port;
  TAfDcb m_block;
  int m_portNumber = 0;
  std::atomic<bool> m_active{false};
  std::atomic<bool> m_open{false};
  uint32_t m_lineErrors = 0;
  uint32_t m_inQueueSize = 8192;
  uint32_t m_outQueueSize = 4096;
  TThreadPriority m_writePriority = tpHigher;
  TThreadPriority m_eventPriority = tpNormal;
  TReceiver m_receiver;
  bool m_lastPurgeAcknowledged = false;

  std::mutex m_readLock;
  std::mutex m_writeLock;
  std::unique_ptr<TAfComPortWriteThread> m_writeThread;
  std::unique_ptr<TAfComPortEventThread> m_eventThread;

  // Between the threads: the output-empty event, the event thread's wake-up,
  // what the event thread needs to tell new input from unread input, and the
  // line errors found by polls that the event thread has not reported yet.
  TAfEventFd m_eventWake;
  std::atomic<bool> m_outputEmpty{false};
  std::atomic<bool> m_inputWaiting{false};
  std::atomic<uint64_t> m_readTotal{0};
  std::atomic<uint32_t> m_unreportedErrors{0};
  std::atomic<bool> m_hungUp{false};
  std::atomic<uint64_t> m_pollTimeouts{0};
  std::mutex m_exceptionMutex;
  std::exception_ptr m_threadException;
};
