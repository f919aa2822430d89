#pragma once
// One GET of the web request layer on a worker thread of its own, so that the window
// does not wait for it; the outcome goes to a completion handler in the receiver's
// thread (the main thread).
//
// The handler runs at most once per request, after the request object was released,
// and only while the receiver lives: a receiver destroyed first means the handler is
// not called and the request is given up. At program exit the remaining requests are
// given up and their threads joined, which takes about a second at most.
//
// Thread: Start from the receiver's thread; the rest is internal.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QObject;

class TAsyncWebRequest {
public:
  // statusCode 0 and an empty body when no answer arrived whole.
  using TDoneEvent = std::function<void(TAsyncWebRequest& sender, const std::string& tag, std::int32_t statusCode,
                                        const std::string& body)>;

  // Starts the request at once; the caller keeps no reference. An empty user agent
  // selects the layer's default. `receiver` must not be null. The request ends after
  // deadlineMs and when its body grows past maxBytes (0: the layer's defaults).
  static void Start(const std::string& tag, const std::string& userAgent, TDoneEvent onDone, const std::string& url,
                    QObject* receiver, std::int32_t deadlineMs = 0, std::size_t maxBytes = 0);
  // Gives up every running request and waits for their threads to end.
  static void StopAll();
  // Requests whose threads have not ended yet.
  static int Running();

  const std::string URL;
  const std::string UserAgent;
  const std::string Tag;
  const TDoneEvent OnDone;

  TAsyncWebRequest(std::string url, std::string userAgent, std::string tag, TDoneEvent onDone);
  std::int32_t DeadlineMs = 0;
  std::size_t MaxBytes = 0;
  // Asks the running request to end early (any thread); its handler is then not called.
  void GiveUp() { abort_ = true; }
  bool Finished() const { return finished_; }

private:
  struct TReceiverLink;
  void Execute(const std::shared_ptr<TAsyncWebRequest>& self, const std::shared_ptr<TReceiverLink>& link);

  std::atomic<bool> abort_{false};
  std::atomic<bool> finished_{false};
};
