#pragma once
// Waiting helpers for the serial tests: wait for a condition up to a deadline
// instead of sleeping a fixed time.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sys/resource.h>

// Runs the Qt event loop until the condition holds or the limit passed.
inline bool WaitWithEvents(const std::function<bool()>& condition,
                           std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  QDeadlineTimer deadline(limit.count());
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(200);
  }
  return true;
}

// CPU time (user + system) the whole process has used so far, in milliseconds.
inline double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}
