#include "CloudWorker.h"

#include <QMetaObject>
#include <QObject>

#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <utility>

struct TCloudWorker::TState {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::pair<TOwnerStep, TJob>> jobs;
  // The owner-thread object steps are posted to; null once the worker is going away.
  // Posting happens under the mutex, so the relay cannot be deleted in between.
  QObject* relay = nullptr;
  std::atomic<bool> abort{false};
  std::atomic<bool> finished{false};

  // False when there is no one left to hand the step to.
  bool Hand(TOwnerStep step) {
    std::lock_guard lock(mutex);
    if (!relay) return false;
    if (step) QMetaObject::invokeMethod(relay, std::move(step), Qt::QueuedConnection);
    return true;
  }

  void Run() {
    while (true) {
      std::pair<TOwnerStep, TJob> next;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return !relay || !jobs.empty(); });
        if (!relay) break;
        next = std::move(jobs.front());
        jobs.pop_front();
      }
      if (!Hand(std::move(next.first))) break;
      TOwnerStep done;
      try {
        done = next.second();
      } catch (...) {
        done = [error = std::current_exception()] { std::rethrow_exception(error); };
      }
      if (!Hand(std::move(done))) break;
    }
    finished = true;
  }
};

namespace {

// Worker threads whose owner has gone; joined once they ended, and all at exit.
class TReaper {
 public:
  ~TReaper() {
    std::lock_guard lock(mutex_);
    for (auto& entry : threads_) entry.first.join();
  }
  void Adopt(std::thread thread, std::shared_ptr<const std::atomic<bool>> finished) {
    std::list<std::pair<std::thread, std::shared_ptr<const std::atomic<bool>>>> ended;
    {
      std::lock_guard lock(mutex_);
      for (auto it = threads_.begin(); it != threads_.end();) {
        auto next = std::next(it);
        if (it->second->load()) ended.splice(ended.end(), threads_, it);
        it = next;
      }
      threads_.emplace_back(std::move(thread), std::move(finished));
    }
    for (auto& entry : ended) entry.first.join();
  }

 private:
  std::mutex mutex_;
  std::list<std::pair<std::thread, std::shared_ptr<const std::atomic<bool>>>> threads_;
};

TReaper& Reaper() {
  static TReaper reaper;
  return reaper;
}

}  // namespace

TCloudWorker::TCloudWorker() : state_(std::make_shared<TState>()), relay_(std::make_unique<QObject>()) {
  Reaper();  // made before any worker thread, so destroyed after them all
  state_->relay = relay_.get();
  thread_ = std::thread([state = state_] { state->Run(); });
}

TCloudWorker::~TCloudWorker() {
  {
    std::lock_guard lock(state_->mutex);
    state_->relay = nullptr;
    state_->jobs.clear();
  }
  state_->abort = true;
  state_->wake.notify_all();
  relay_.reset();  // steps posted but not yet run go with it
  Reaper().Adopt(std::move(thread_), std::shared_ptr<const std::atomic<bool>>(state_, &state_->finished));
}

void TCloudWorker::Post(TOwnerStep onStart, TJob job) {
  {
    std::lock_guard lock(state_->mutex);
    state_->jobs.emplace_back(std::move(onStart), std::move(job));
  }
  state_->wake.notify_one();
}

const std::atomic<bool>& TCloudWorker::AbortFlag() const { return state_->abort; }
