// The busy cursor shows while the GUI thread waits for a web request, and only then.
#include <gtest/gtest.h>

#include <QApplication>
#include <thread>

#include "CloudSimProcess.h"
#include "cloud/MyInternet.h"

namespace {

// Whether the wait cursor was up while the body arrived, for a request on this thread.
bool CursorDuringRequest(const CloudSimProcess& sim) {
  bool busy = false;
  TWebRequest request(sim.Url("/sim/bytes?count=100"));
  request.OnProgress = [&](TWebRequest&, std::int64_t, std::int32_t) {
    busy = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  };
  EXPECT_TRUE(request.Execute()) << request.LastErrorText;
  return busy;
}

TEST(BusyCursor, ShownForRequestsOfTheGuiThreadOnly) {
  CloudSimProcess sim;
  ASSERT_TRUE(sim.IsRunning());
  sim.TrustCertificate();
  EXPECT_TRUE(CursorDuringRequest(sim));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  bool busyOnWorker = true;
  std::thread worker([&] { busyOnWorker = CursorDuringRequest(sim); });
  worker.join();
  EXPECT_FALSE(busyOnWorker);

  // A request that fails leaves no cursor behind either.
  EXPECT_FALSE(TWebRequest("https://127.0.0.1:1/").Execute());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
