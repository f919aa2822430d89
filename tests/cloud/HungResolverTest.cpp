// A name lookup that never ends must not hold a request past its limits: the
// connect limit or an abort ends it, and the lookup is left to finish alone.
//
// This program brings its own getaddrinfo, which libcurl's resolver thread
// calls in place of the C library's: a lookup of kHungHost hangs until the
// test ends; every other name goes through to the real one.
#include "cloud/MyInternet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kHungHost = "hung.example";
std::atomic<bool> g_releaseLookups{false};

}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) noexcept {
  if (node && std::strcmp(node, kHungHost) == 0) {
    for (int i = 0; i < 1200 && !g_releaseLookups; ++i) usleep(50000);
    return EAI_AGAIN;
  }
  using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
  return real(node, service, hints, result);
}

namespace {

TEST(HungResolver, ConnectLimitAndAbortEndTheRequestWithoutWaitingForTheLookup) {
  const struct {
    const char* name;
    std::int32_t connectMs;
    int abortAfterMs;  // -1: never
    std::int32_t error;
  } rows[] = {
      {"connect limit", 500, -1, 12000 + 28},  // libcurl's "timeout was reached"
      {"abort", 15000, 300, ECANCELED},
  };
  for (const auto& row : rows) {
    TWebRequest request(std::string("http://") + kHungHost + "/14/1/2.png");
    request.ConnectTimeoutMs = row.connectMs;
    std::atomic<bool> abort{false};
    request.AbortFlag = &abort;
    std::thread aborter;
    if (row.abortAfterMs >= 0)
      aborter = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(row.abortAfterMs));
        abort = true;
      });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(request.Execute()) << row.name;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (aborter.joinable()) aborter.join();
    // The lookup hangs for a minute: waiting for it would take that long.
    EXPECT_LT(elapsed, std::chrono::seconds(5)) << row.name;
    EXPECT_EQ(request.LastError, row.error) << row.name << ": " << request.LastErrorText;
  }
  g_releaseLookups = true;
}

}  // namespace
