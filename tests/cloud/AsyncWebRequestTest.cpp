// TAsyncWebRequest: the handler runs once in the receiver's thread, after the request,
// and never for a receiver that is gone.
#include "../serial/TestWait.h"
#include "CloudSimProcess.h"
#include "cloud/MyThread_Web.h"

#include <QObject>
#include <gtest/gtest.h>

#include <memory>

namespace {

CloudSimProcess& Sim() {
  static CloudSimProcess sim({"--published-version", "9.8.7.6"});
  static const bool trusted = (sim.TrustCertificate(), true);
  (void)trusted;
  return sim;
}

struct Outcome {
  std::string tag;
  std::int32_t status = -1;
  std::string body;
  bool inMainThread = false;
  int calls = 0;
};

TEST(AsyncWebRequest, HandlerGetsStatusAndBodyInTheReceiversThread) {
  ASSERT_TRUE(Sim().IsRunning());
  struct Case {
    std::string url;
    std::int32_t status;
    std::string body;
    std::int32_t deadlineMs = 0;
    std::size_t maxBytes = 0;
  };
  const Case cases[] = {
      {Sim().Url("/files/OrvaneMonitor.ver"), 200, "9.8.7.6"},
      {Sim().Url("/sim/status?code=404"), 404, R"({"message":"Simulated error 404"})"},
      {"https://127.0.0.1:1/unreachable", 0, ""},
      {Sim().Url("/sim/play?fault=drop"), 0, ""},  // a cut body is no answer
      // The caller's bounds hold on the worker too.
      {Sim().Url("/sim/bytes?count=70000"), 0, "", 0, 65536},
      {Sim().Url("/sim/play?fault=trickle%3D20"), 0, "", 1000, 0},
  };
  QObject receiver;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    Outcome outcome;
    TAsyncWebRequest::Start(
        "tag-1", "Agent/1",
        [&](TAsyncWebRequest& sender, const std::string& tag, std::int32_t status, const std::string& body) {
          EXPECT_EQ(sender.URL, c.url);
          outcome = {tag, status, body, QThread::currentThread() == receiver.thread(), outcome.calls + 1};
        },
        c.url, &receiver, c.deadlineMs, c.maxBytes);
    ASSERT_TRUE(WaitWithEvents([&] { return outcome.calls > 0 && TAsyncWebRequest::Running() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.tag, "tag-1");
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.body, c.body);
    EXPECT_TRUE(outcome.inMainThread);
  }
}

TEST(AsyncWebRequest, ReceiverDestroyedFirstMeansNoHandlerAndAPromptEnd) {
  ASSERT_TRUE(Sim().IsRunning());
  int calls = 0;
  auto handler = [&](TAsyncWebRequest&, const std::string&, std::int32_t, const std::string&) { ++calls; };
  {
    // The answer arrives, but the receiver is gone before the main thread runs the handler.
    QObject receiver;
    TAsyncWebRequest::Start("", "", handler, Sim().Url("/sim/echo"), &receiver);
    // No events may be processed meanwhile, or the posted handler would run before the receiver goes.
    QDeadlineTimer deadline(10000);
    while (TAsyncWebRequest::Running() != 0 && !deadline.hasExpired()) QThread::msleep(5);
    ASSERT_EQ(TAsyncWebRequest::Running(), 0);
  }
  {
    // The receiver goes while the server hangs: the request is given up at once.
    auto receiver = std::make_unique<QObject>();
    TAsyncWebRequest::Start("", "", handler, Sim().Url("/sim/play?fault=hang"), receiver.get());
    QThread::msleep(200);
    const auto start = std::chrono::steady_clock::now();
    receiver.reset();
    ASSERT_TRUE(WaitWithEvents([] { return TAsyncWebRequest::Running() == 0; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, 0);
}

TEST(AsyncWebRequest, StopAllEndsHangingRequestsPromptly) {
  ASSERT_TRUE(Sim().IsRunning());
  QObject receiver;
  for (int i = 0; i < 3; ++i) TAsyncWebRequest::Start("", "", {}, Sim().Url("/sim/play?fault=hang"), &receiver);
  QThread::msleep(200);
  const auto start = std::chrono::steady_clock::now();
  TAsyncWebRequest::StopAll();
  EXPECT_EQ(TAsyncWebRequest::Running(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
