#pragma once
// TAfPosixPort: the platform layer under the serial core, on Linux. This is the
// only unit that speaks termios or calls ioctls on a port; everything above
// it works with the device-control block, the line-event bits and the
// line-error flags of AfComTypes.h.
//
// Open takes the device exclusively (a non-blocking flock, then TIOCEXCL),
// non-blocking and without making it the controlling terminal. Failures are
// reported by result; LastError() is the errno of the calling thread's last
// failing call (per thread, since the worker threads share one port).
//
// Thread: Open, Close, SetDeviceBlock and the other set-up calls belong to the
// owner (the core, main thread). Read, Write, InCount, OutCount, Purge,
// TakeLineErrors and TakeModemEvents may run in the worker threads while the
// port is open; the counter baselines they keep are under an internal mutex.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>

#include "AfComTypes.h"

class TAfPosixPort {
 public:
  enum TOpenResult { orOpened, orNotFound, orFailed };

  TAfPosixPort() = default;
  ~TAfPosixPort();
  TAfPosixPort(const TAfPosixPort&) = delete;
  TAfPosixPort& operator=(const TAfPosixPort&) = delete;

  // orNotFound: no such path, not a character device, or no hardware behind the
  // node (ENOENT, ENODEV, ENXIO). orFailed: anything else, notably a device
  // that another open holds (its lock is taken, or EBUSY from TIOCEXCL).
  TOpenResult Open(const std::string& path);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  // The descriptor, for the worker threads' poll(); -1 when closed.
  int Handle() const { return m_fd; }
  static int LastError();

  // Reads never wait (VMIN = VTIME = 0 on a non-blocking descriptor).
  bool SetTimeouts();
  // The Linux drivers keep their own queue sizes; the values are only kept.
  bool SetQueueSizes(uint32_t inQueue, uint32_t outQueue);
  bool SetEventMask(uint32_t mask);
  uint32_t EventMask() const { return m_eventMask; }

  // Applies the block to the line. Refused (false) for a length other than 28,
  // a speed of 0, a byte size outside 5..8, parity above 4 or stop bits above 2.
  // Pseudo-terminals keep 8 bits without parity whatever is asked; that is the
  // driver's choice and not an error.
  bool SetDeviceBlock(const TAfDcb& block);
  // The line's settings as a block (DTR/RTS from the modem lines when the
  // driver reports them, else as enabled).
  bool GetDeviceBlock(TAfDcb& block);

  bool Escape(uint32_t code);
  bool Purge(uint32_t flags);
  uint32_t InCount();
  uint32_t OutCount();
  // Line-error flags for the errors counted by the driver since the last call.
  uint32_t TakeLineErrors();
  // CTS/DSR/RING/RLSD event bits for the modem-line changes since the last call:
  // from the driver's transition counters, else by comparing TIOCMGET samples.
  uint32_t TakeModemEvents();

  // Plain read/write: -1 with LastError() on failure (EAGAIN when nothing can
  // move right now).
  ssize_t Read(void* buffer, size_t count);
  ssize_t Write(const void* data, size_t count);

 private:
  struct TCounters {
    int cts = 0, dsr = 0, rng = 0, dcd = 0;
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
  };
  bool ReadCounters(TCounters& counters);
  bool ReadModemLines(int& lines);
  void ResetBaselines();

  int m_fd = -1;
  uint32_t m_eventMask = 0;
  uint32_t m_inQueue = 0;
  uint32_t m_outQueue = 0;

  std::mutex m_baselineMutex;
  bool m_haveCounters = false;
  TCounters m_errorBase;
  TCounters m_modemBase;
  bool m_haveLines = false;
  int m_lines = 0;
};
