#pragma once
// TAfComPortCoreThread: base of the core's two worker threads. Owns the
// std::thread, the stop event and the terminated flag, applies the thread's
// priority, signals "started" when its loop begins, and routes an exception
// that escapes the loop to HandleException.
//
// Lifecycle: the subclass constructor calls Start() once its own members
// exist; StopThread() (from the core, main thread) stops and joins. The
// destructor joins as well, so the thread never outlives the object.

#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <thread>

#include "AfComTypes.h"
#include "AfEventFd.h"

class TAfComPortCore;
class TAfPosixPort;

class TAfComPortCoreThread {
 public:
  TAfComPortCoreThread(TAfComPortCore& core, TAfPosixPort& port);
  virtual ~TAfComPortCoreThread();
  TAfComPortCoreThread(const TAfComPortCoreThread&) = delete;
  TAfComPortCoreThread& operator=(const TAfComPortCoreThread&) = delete;

  // Waits until the thread's loop has begun; false after the limit.
  bool WaitStarted(std::chrono::milliseconds limit);
  // Applied at once to a running thread, else when it starts. Raising above
  // the process's own priority needs CAP_SYS_NICE; without it the thread
  // keeps the process priority.
  void SetPriority(TThreadPriority priority);
  bool Terminated() const { return m_terminated; }
  virtual void StopThread();

 protected:
  // Raises EAfComPortCoreError "Error creating threads" when the stop event has no
  // descriptor or the thread cannot be started.
  void Start();
  virtual void Execute() = 0;
  virtual void HandleException(std::exception_ptr error);
  void SignalStarted();
  // The common stop: mark terminated, set the stop event, join.
  void CommonStop();
  void MarkTerminated() { m_terminated = true; }

  TAfComPortCore& m_core;
  TAfPosixPort& m_port;
  TAfEventFd m_stopEvent;

 private:
  void Run();
  void ApplyPriority();

  std::thread m_thread;
  std::atomic<bool> m_terminated{false};
  std::atomic<int> m_tid{0};
  std::atomic<TThreadPriority> m_priority{tpNormal};
  std::promise<void> m_started;
  std::future<void> m_startedFuture;
  bool m_startedSignalled = false;
};
