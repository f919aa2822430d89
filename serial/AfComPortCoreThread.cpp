#include "AfComPortCoreThread.h"

#include <sys/resource.h>
#include <system_error>
#include <sys/syscall.h>
#include <unistd.h>

#include "AfComErrors.h"
#include "AfSafeSync.h"

namespace {

// Linux schedules normal threads by nice value only; the seven priorities
// become steps around the process's own value.
int NiceOffset(TThreadPriority priority) {
  switch (priority) {
    case tpIdle: return 19;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -20;
  }
  return 0;
}

}  // namespace

TAfComPortCoreThread::TAfComPortCoreThread(TAfComPortCore& core, TAfPosixPort& port)
    : m_core(core), m_port(port), m_startedFuture(m_started.get_future()) {}

TAfComPortCoreThread::~TAfComPortCoreThread() { CommonStop(); }

void TAfComPortCoreThread::Start() {
  // Without its stop event the thread could never be told to end.
  if (!m_stopEvent.IsValid()) throw EAfComPortCoreError("Error creating threads");
  try {
    m_thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    throw EAfComPortCoreError("Error creating threads");
  }
}

void TAfComPortCoreThread::Run() {
  m_tid = static_cast<int>(::syscall(SYS_gettid));
  ApplyPriority();
  try {
    Execute();
  } catch (...) {
    HandleException(std::current_exception());
  }
  // A loop that ended early still releases an opener waiting for the start.
  SignalStarted();
}

void TAfComPortCoreThread::SignalStarted() {
  if (m_startedSignalled) return;
  m_startedSignalled = true;
  m_started.set_value();
}

bool TAfComPortCoreThread::WaitStarted(std::chrono::milliseconds limit) {
  return m_startedFuture.wait_for(limit) == std::future_status::ready;
}

void TAfComPortCoreThread::SetPriority(TThreadPriority priority) {
  m_priority = priority;
  if (m_tid != 0) ApplyPriority();
}

void TAfComPortCoreThread::ApplyPriority() {
  errno = 0;
  const int processNice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  if (errno != 0) return;
  int nice = processNice + NiceOffset(m_priority);
  nice = nice < -20 ? -20 : (nice > 19 ? 19 : nice);
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(m_tid.load()), nice) != 0 && nice < processNice)
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(m_tid.load()), processNice);
}

void TAfComPortCoreThread::HandleException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAfAbort&) {
  } catch (...) {
    AfSafeSync::ShowException(std::current_exception());
  }
}

void TAfComPortCoreThread::StopThread() { CommonStop(); }

void TAfComPortCoreThread::CommonStop() {
  m_terminated = true;
  m_stopEvent.Signal();
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}
