#pragma once
// A thread that runs cloud work one job at a time, in the order posted, and hands each
// job's outcome back to the thread that made the worker (the GUI thread), so that the
// window never waits on the network.
//
// A job runs on the worker and returns the step to run in the owner's thread after it
// (empty: none). Before a job starts, its start step (if any) is handed over the same
// way. An exception that leaves a job is thrown again in the owner's thread.
//
// Destroying the worker gives the running job up at once (AbortFlag), drops the jobs
// still waiting and every step not yet run; the thread ends on its own within about a
// second and is joined at program exit at the latest.
//
// Thread: construction, Post and destruction in the owner's thread only.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QObject;

class TCloudWorker {
 public:
  using TOwnerStep = std::function<void()>;
  using TJob = std::function<TOwnerStep()>;

  TCloudWorker();
  ~TCloudWorker();
  TCloudWorker(const TCloudWorker&) = delete;
  TCloudWorker& operator=(const TCloudWorker&) = delete;

  void Post(TOwnerStep onStart, TJob job);
  // True once the worker is being destroyed; requests made by jobs watch it.
  const std::atomic<bool>& AbortFlag() const;

 private:
  struct TState;
  std::shared_ptr<TState> state_;
  std::unique_ptr<QObject> relay_;
  std::thread thread_;
};
