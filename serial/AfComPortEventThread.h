#pragma once
// TAfComPortEventThread: waits for line events and reports them to the core's
// receiver, in this thread.
//
// It polls the device and two wake-up descriptors (its stop event and the
// core's wake event) for at most 200 ms at a time. Reports:
//   ekCommEvents   receive bit when bytes arrived since the last look (counted
//                  as bytes read through the core plus the input queue, so bytes
//                  left unread never count twice), modem-line change bits, and
//                  the error bit when status polls found new line errors;
//   ekDataPending  on a time-out while unread bytes wait;
//   ekOutputEmpty  when the write thread has sent the ring buffer completely;
//   ekHangUp       once, when the device reports POLLHUP/POLLERR or a read
//                  through the core failed with EIO; afterwards
//                  the device is no longer polled, so nothing spins.
// While unread bytes wait, POLLIN would stay raised, so the device is then
// polled for hang-up only and a read through the core wakes the thread.

#include <exception>
#include <mutex>

#include "AfComPortCore.h"
#include "AfComPortCoreThread.h"

class TAfComPortEventThread : public TAfComPortCoreThread {
 public:
  TAfComPortEventThread(TAfComPortCore& core, TAfPosixPort& port, TAfComPortCore::TReceiver receiver);
  ~TAfComPortEventThread() override;

  // Clears the receiver, purges the receive side and stops the thread.
  void StopThread() override;

 protected:
  void Execute() override;
  void HandleException(std::exception_ptr error) override;

 private:
  void Report(TAfCoreEvent kind, uint32_t data);

  std::mutex m_receiverMutex;
  TAfComPortCore::TReceiver m_receiver;
};
