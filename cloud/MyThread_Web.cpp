#include "MyThread_Web.h"

#include "MyInternet.h"

#include <QMetaObject>
#include <QObject>

#include <list>
#include <mutex>
#include <thread>

// The receiver as the worker may reach it: null once it began to be destroyed. The
// worker posts the completion while holding the mutex, so the receiver cannot finish
// its destruction in between; its destruction then drops the posted call.
struct TAsyncWebRequest::TReceiverLink {
  std::mutex mutex;
  QObject* receiver = nullptr;
  QMetaObject::Connection watch;
};

namespace {

struct TRunning {
  std::shared_ptr<TAsyncWebRequest> request;
  std::thread thread;
};

// Every request's thread, so that none outlives the program's static data.
class TRegistry {
public:
  ~TRegistry() { StopAll(); }

  void Add(std::shared_ptr<TAsyncWebRequest> request, std::thread thread) {
    std::list<TRunning> ended;
    {
      std::lock_guard lock(mutex_);
      // Threads whose body has ended are joined outside the lock; that is immediate.
      for (auto it = running_.begin(); it != running_.end();) {
        auto next = std::next(it);
        if (it->request->Finished()) ended.splice(ended.end(), running_, it);
        it = next;
      }
      running_.push_back({std::move(request), std::move(thread)});
    }
    for (TRunning& entry : ended) entry.thread.join();
  }

  void StopAll() {
    std::list<TRunning> all;
    {
      std::lock_guard lock(mutex_);
      all.swap(running_);
    }
    for (TRunning& entry : all) entry.request->GiveUp();
    for (TRunning& entry : all) entry.thread.join();
  }

  int Running() {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const TRunning& entry : running_) count += entry.request->Finished() ? 0 : 1;
    return count;
  }

private:
  std::mutex mutex_;
  std::list<TRunning> running_;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

TAsyncWebRequest::TAsyncWebRequest(std::string url, std::string userAgent, std::string tag, TDoneEvent onDone)
    : URL(std::move(url)), UserAgent(std::move(userAgent)), Tag(std::move(tag)), OnDone(std::move(onDone)) {}

void TAsyncWebRequest::Start(const std::string& tag, const std::string& userAgent, TDoneEvent onDone,
                             const std::string& url, QObject* receiver, std::int32_t deadlineMs,
                             std::size_t maxBytes) {
  auto request = std::make_shared<TAsyncWebRequest>(url, userAgent, tag, std::move(onDone));
  request->DeadlineMs = deadlineMs;
  request->MaxBytes = maxBytes;
  auto link = std::make_shared<TReceiverLink>();
  link->receiver = receiver;
  // Runs in the receiver's destructor, on its thread.
  link->watch = QObject::connect(receiver, &QObject::destroyed, [link, request] {
    std::lock_guard lock(link->mutex);
    link->receiver = nullptr;
    request->abort_ = true;
  });
  std::thread thread([request, link] { request->Execute(request, link); });
  Registry().Add(std::move(request), std::move(thread));
}

void TAsyncWebRequest::Execute(const std::shared_ptr<TAsyncWebRequest>& self,
                               const std::shared_ptr<TReceiverLink>& link) {
  std::int32_t status = 0;
  std::string body;
  {
    TWebRequest request(URL, UserAgent);
    request.AbortFlag = &abort_;
    if (DeadlineMs > 0) request.DeadlineMs = DeadlineMs;
    if (MaxBytes > 0) request.MaxResponseBytes = MaxBytes;
    if (request.Execute()) {
      status = request.StatusCode;
      body = std::move(request.Response);
    }
  }
  {
    std::lock_guard lock(link->mutex);
    if (link->receiver && !abort_) {
      QMetaObject::invokeMethod(
          link->receiver,
          [self, link, status, body] {
            QObject::disconnect(link->watch);
            if (self->OnDone) self->OnDone(*self, self->Tag, status, body);
          },
          Qt::QueuedConnection);
    }
  }
  finished_ = true;
}

void TAsyncWebRequest::StopAll() { Registry().StopAll(); }

int TAsyncWebRequest::Running() { return Registry().Running(); }
