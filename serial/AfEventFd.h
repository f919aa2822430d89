#pragma once
// TAfEventFd: a wake-up descriptor that a thread can poll() together with the
// device. Signal() from any thread makes it readable until Drain().
// Signals are counted, so one given between a check and the poll is not lost.
//
// Thread: any thread.

class TAfEventFd {
 public:
  TAfEventFd();
  ~TAfEventFd();
  TAfEventFd(const TAfEventFd&) = delete;
  TAfEventFd& operator=(const TAfEventFd&) = delete;

  bool IsValid() const { return m_fd >= 0; }
  // Tries again to get the descriptor when the constructor could not; true when valid.
  bool EnsureValid();
  int Fd() const { return m_fd; }
  void Signal();
  void Drain();

 private:
  int m_fd;
};
