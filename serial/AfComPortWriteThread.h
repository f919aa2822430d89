#pragma once
// TAfComPortWriteThread: drains the output ring buffer to the device.
//
// Every access to the ring buffer is under the core's write lock; the device
// write itself runs outside it. A piece is the contiguous part at the read
// side, so a wrapped buffer goes out in two writes. Bytes the driver has taken
// are discarded from the ring at once (a later failure must not send them
// twice); when the ring is empty the core's output-empty event is set.
// A write the driver refuses (EIO after a hang-up, any error) leaves the rest
// in the ring until the next enqueue.

#include <atomic>
#include <chrono>
#include <functional>
#include <semaphore>

#include "AfCircularBuffer.h"
#include "AfComPortCoreThread.h"

class TAfComPortWriteThread : public TAfComPortCoreThread {
 public:
  TAfComPortWriteThread(TAfComPortCore& core, TAfPosixPort& port, size_t bufferSize);
  ~TAfComPortWriteThread() override;

  // Copies the block into the ring as a whole; false when it does not fit or
  // is empty. Caller: any thread (takes the write lock).
  bool Enqueue(const void* data, size_t count);
  // Free bytes of the ring; the caller holds the write lock.
  size_t FreeLocked() const { return m_buffer.Free(); }
  // Asks the thread to drop a pending write, then empties the ring and the
  // driver's output queue. False when the thread did not acknowledge in time.
  // Caller: main thread, inside the core's read lock (takes the write lock).
  bool PurgeOutput();
  void StopThread() override;
  // Whether the purge of the last StopThread was acknowledged in time.
  bool PurgeAcknowledged() const { return m_purgeAcknowledged; }

  // Device writes that moved at least one byte; for tests and benchmarks.
  uint64_t DeviceWrites() const { return m_deviceWrites; }

  // Test hook, called in the write thread after a purge is acknowledged and before
  // every device write attempt.
  enum TTracePoint { wtPurgeAcknowledged, wtDeviceWrite };
  static void SetTraceHook(std::function<void(TTracePoint)> hook);

 protected:
  void Execute() override;

 private:
  // false when the write was abandoned for a stop or a purge request.
  bool WritePiece();
  bool WaitWritable();
  // From here until the purge has been carried out nothing may be written.
  void AcknowledgePurge();

  TAfCircularBuffer m_buffer;
  TAfEventFd m_wake;
  std::atomic<bool> m_dataReady{false};
  std::atomic<bool> m_purgeRequest{false};
  std::atomic<bool> m_purgeDone{false};
  bool m_holding = false;  // write thread only
  std::binary_semaphore m_purgeAck{0};
  std::atomic<uint64_t> m_deviceWrites{0};
  bool m_purgeAcknowledged = false;
};
