// TWebRequest over HTTPS against cloud-sim on loopback.
#include "CloudSimProcess.h"
#include "ConnectProxy.h"
#include "cloud/MyInternet.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One simulator for the whole program; its certificate is trusted through ORVANE_CA_FILE.
CloudSimProcess& Sim() {
  static CloudSimProcess sim;
  static const bool trusted = (sim.TrustCertificate(), true);
  (void)trusted;
  return sim;
}

class WebRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Sim().IsRunning()) << "cloud-sim did not start"; }
};

// The echo answer is "VERB TARGET", the header lines, a blank line and the body.
std::string EchoedHeaders(const std::string& echo) { return echo.substr(0, echo.find("\n\n") + 1); }
std::string EchoedBody(const std::string& echo) { return echo.substr(echo.find("\n\n") + 2); }

TEST_F(WebRequestTest, EachVerbArrivesWithItsBodyAndHeaders) {
  struct Case {
    std::uint8_t verb;
    const char* body;
    const char* type;
    const char* requestLine;
    bool bodyArrives;
  };
  const Case cases[] = {
      {wvGET, "", "", "GET /sim/echo?q=1", false},
      {wvPOST, "{\"a\":1}", "application/json", "POST /sim/echo?q=1", true},
      {wvPUT, "{\"gateways\":[\"X\"]}", "application/json", "PUT /sim/echo?q=1", true},
      {wvDELETE, "{\"gateways\":[\"X\"]}", "application/json", "DELETE /sim/echo?q=1", true},
      {wvPATCH, "p", "text/plain", "PATCH /sim/echo?q=1", true},
      {wvPOST, "", "application/json", "POST /sim/echo?q=1", false},  // empty body: no type sent
      {wvPOST, "raw", "", "POST /sim/echo?q=1", true},                // body without a type
      {6, "", "", "GET /sim/echo?q=1", false},                        // unknown code
      {128 + wvPUT, "x", "text/plain", "PUT /sim/echo?q=1", true},    // modulo 128
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requestLine + std::string(" body '") + c.body + "'");
    TWebRequest request(Sim().Url("/sim/echo?q=1#fragment-not-sent"), "Test Agent/2");
    request.Verb = c.verb;
    request.SetHeaders("X-One: 1\r\nX-Two: 2");
    request.SetContent(c.body, c.type);
    ASSERT_TRUE(request.Execute()) << request.LastErrorText;
    EXPECT_EQ(request.StatusCode, 200);
    const std::string headers = EchoedHeaders(request.Response);
    EXPECT_EQ(headers.substr(0, headers.find('\n')), c.requestLine);
    EXPECT_NE(headers.find("\nX-One: 1\n"), std::string::npos);
    EXPECT_NE(headers.find("\nX-Two: 2\n"), std::string::npos);
    EXPECT_NE(headers.find("\nUser-Agent: Test Agent/2\n"), std::string::npos);
    const bool typeSent = *c.body && *c.type;
    EXPECT_EQ(headers.find("\nContent-Type: " + std::string(c.type) + "\n") != std::string::npos, typeSent);
    if (!typeSent) {
      EXPECT_EQ(headers.find("Content-Type"), std::string::npos) << headers;
    }
    EXPECT_EQ(EchoedBody(request.Response), c.bodyArrives ? c.body : "");
  }
}

TEST_F(WebRequestTest, HeadAnswersWithoutBodyAndHeaderBlocksReplaceEachOther) {
  TWebRequest request(Sim().Url("/sim/echo"));
  request.Verb = wvHEAD;
  request.SetHeaders("X-First: 1");
  request.SetHeaders("X-Second: 2\r\nX-Second: 3");
  EXPECT_EQ(request.Headers, "X-Second: 2\r\nX-Second: 3\r\n");
  ASSERT_TRUE(request.Execute());
  EXPECT_EQ(request.StatusCode, 200);
  EXPECT_TRUE(request.Response.empty());
  EXPECT_GT(request.ContentLength, 0);

  // The same header twice: the later line replaces the earlier one; the first block is gone.
  request.Verb = wvGET;
  ASSERT_TRUE(request.Execute());
  EXPECT_EQ(request.Response.find("X-First"), std::string::npos);
  EXPECT_NE(request.Response.find("\nX-Second: 3\n"), std::string::npos);
  EXPECT_EQ(request.Response.find("X-Second: 2"), std::string::npos);
  EXPECT_NE(request.Response.find("\nUser-Agent: Qel Web Client 1.01\n"), std::string::npos);
}

TEST_F(WebRequestTest, ErrorStatusIsAnAnswerWithItsBodyAndHeaders) {
  TWebRequest request(Sim().Url("/sim/status?code=404"));
  ASSERT_TRUE(request.Execute());
  EXPECT_EQ(request.StatusCode, 404);
  EXPECT_EQ(request.Response, "{\"message\":\"Simulated error 404\"}");
  EXPECT_EQ(request.ResponseContentType, "application/json");
  EXPECT_EQ(request.ContentLength, static_cast<std::int32_t>(request.Response.size()));
  EXPECT_EQ(request.LastError, 0);
  ASSERT_GE(request.HeaderLines.size(), 3u);
  EXPECT_EQ(request.HeaderLines.front(), "HTTP/1.1 404 Not Found");
  // Lines are NUL-separated and the block ends in two NULs, each piece kept.
  EXPECT_EQ(request.RawHeaders.substr(request.RawHeaders.size() - 2), std::string(2, '\0'));
  std::size_t pieces = 1;
  for (char c : request.RawHeaders) pieces += c == '\0';
  EXPECT_EQ(request.HeaderLines.size(), pieces);
  EXPECT_EQ(request.HeaderLines.back(), "");

  EXPECT_EQ(WebGetText(Sim().Url("/sim/status?code=404")), "{\"message\":\"Simulated error 404\"}");
}

TEST_F(WebRequestTest, RedirectsFollowedOrNot) {
  TWebRequest followed(Sim().Url("/sim/redirect?to=/sim/echo%3Fafter=1"));
  ASSERT_TRUE(followed.Execute());
  EXPECT_EQ(followed.StatusCode, 200);
  EXPECT_EQ(followed.EffectiveURL, Sim().Url("/sim/echo?after=1"));
  EXPECT_EQ(followed.Response.substr(0, followed.Response.find('\n')), "GET /sim/echo?after=1");
  EXPECT_EQ(followed.HeaderLines.front(), "HTTP/1.1 200 OK") << followed.EffectiveURL;  // the final answer's only

  TWebRequest held(Sim().Url("/sim/redirect?to=/sim/echo"));
  held.FollowRedirects = false;
  ASSERT_TRUE(held.Execute());
  EXPECT_EQ(held.StatusCode, 302);
  EXPECT_EQ(held.EffectiveURL, Sim().Url("/sim/redirect?to=/sim/echo"));
  EXPECT_EQ(held.Response, "{\"message\":\"Moved\"}");

  // What went out over TLS is never sent on in clear.
  TWebRequest downgraded(Sim().Url("/sim/play?fault=to-http"));
  EXPECT_FALSE(downgraded.Execute());
  EXPECT_EQ(downgraded.LastErrorText, "redirect from https to http refused");
}

TEST_F(WebRequestTest, ProgressAfterEachChunkOfAtMost20480Bytes) {
  constexpr int kSize = 100000;
  TWebRequest request(Sim().Url("/sim/bytes?count=" + std::to_string(kSize)));
  std::vector<std::int64_t> received;
  request.OnProgress = [&](TWebRequest& sender, std::int64_t soFar, std::int32_t contentLength) {
    EXPECT_EQ(&sender, &request);
    EXPECT_EQ(contentLength, kSize);
    EXPECT_EQ(static_cast<std::int64_t>(sender.Response.size()), soFar);
    received.push_back(soFar);
  };
  ASSERT_TRUE(request.Execute());
  ASSERT_GE(received.size(), 5u);
  std::int64_t previous = 0;
  for (std::int64_t soFar : received) {
    EXPECT_GT(soFar, previous);
    EXPECT_LE(soFar - previous, 20480);
    previous = soFar;
  }
  EXPECT_EQ(previous, kSize);
  EXPECT_EQ(request.Response[kSize - 1], static_cast<char>('a' + (kSize - 1) % 26));
}

// Each certificate fault is named; turning the checks off waives the host name and the
// authority only.
TEST_F(WebRequestTest, CertificateFaultsAreNamedAndOnlyNameAndAuthorityCanBeWaived) {
  CloudSimProcess stranger;                                // a certificate of its own
  CloudSimProcess expired({"--expired-certificate"});      // ended yesterday
  CloudSimProcess elsewhere({"--bind", "127.0.0.2"});      // made for 127.0.0.1
  ASSERT_TRUE(stranger.IsRunning() && expired.IsRunning() && elsewhere.IsRunning());
  const std::string elsewhereUrl = "https://127.0.0.2:" + std::to_string(elsewhere.Port()) + "/sim/echo";
  const std::string unknown = "certificate of an unknown authority";
  const std::string otherHost = "certificate issued for another host name";
  const std::string ended = "certificate expired";
  const struct {
    std::string url;
    const CloudSimProcess* trusted;
    std::string checked, unchecked;  // the error with and without checks ("": answered)
  } cases[] = {
      {stranger.Url("/sim/echo"), nullptr, unknown, ""},
      {elsewhereUrl, &elsewhere, otherHost, ""},
      {expired.Url("/sim/echo"), &expired, ended, ended},
      {expired.Url("/sim/echo"), nullptr, unknown, ended},  // the first fault found is told
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    if (c.trusted) c.trusted->TrustCertificate(); else unsetenv("ORVANE_CA_FILE");
    for (const bool verify : {true, false}) {
      TWebRequest request(c.url);
      request.VerifyCertificate = verify;
      const std::string& error = verify ? c.checked : c.unchecked;
      EXPECT_EQ(request.Execute(), error.empty()) << verify;
      EXPECT_EQ(request.LastErrorText, error) << verify;
      EXPECT_EQ(request.StatusCode, error.empty() ? 200 : 0);
    }
  }
  Sim().TrustCertificate();
}

TEST(WebTrust, ProblemsOfTheTrustSettingsAreTold) {
  const std::string folder = testing::TempDir();
  const std::string garbage = folder + "/not-a-certificate.pem";
  FILE* file = std::fopen(garbage.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n", file);
  std::fclose(file);
  const struct {
    std::string file;
    std::string problem;  // "" for none
  } cases[] = {
      {"", ""},
      {Sim().CertificatePath(), ""},
      {folder + "/absent.pem", "ORVANE_CA_FILE " + folder + "/absent.pem: No such file or directory"},
      {garbage, "ORVANE_CA_FILE " + garbage + ": no certificate could be read from it"},
  };
  for (const auto& c : cases) {
    setenv("ORVANE_CA_FILE", c.file.c_str(), 1);
    // libcurl here is built on OpenSSL, so only the file can be wrong.
    EXPECT_EQ(WebTrustProblems(), c.problem.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.problem})
        << c.file;
  }
  Sim().TrustCertificate();
}

TEST_F(WebRequestTest, HangingServerFailsWithinTheStallLimit) {
  TWebRequest request(Sim().Url("/sim/play?fault=hang"));
  request.StallTimeoutMs = 1000;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(request.Execute());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_EQ(request.LastError, ETIMEDOUT);
  EXPECT_EQ(request.StatusCode, 0);
}

TEST_F(WebRequestTest, ConnectionCutInTheBodyIsAFailureKeepingWhatArrived) {
  TWebRequest request(Sim().Url("/sim/play?fault=drop"));
  EXPECT_FALSE(request.Execute());
  EXPECT_EQ(request.StatusCode, 200);
  EXPECT_EQ(request.ContentLength, 4000);
  EXPECT_EQ(request.Response, std::string(2000, 'x'));
  EXPECT_NE(request.LastError, 0);
  EXPECT_EQ(WebGetText(Sim().Url("/sim/play?fault=drop")), "");
}

TEST_F(WebRequestTest, RefusedConnectionSetsTheSystemError) {
  // A port bound but not listening refuses connections, and stays ours during the test.
  const int socketHandle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(socketHandle, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(socketHandle, reinterpret_cast<sockaddr*>(&address), &length), 0);
  TWebRequest request("https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/");
  EXPECT_FALSE(request.Execute());
  close(socketHandle);
  EXPECT_EQ(request.LastError, ECONNREFUSED);
  EXPECT_EQ(request.StatusCode, 0);

  // A later failure on this thread's connection handle is not given the old system error.
  TWebRequest badPort("https://127.0.0.1:70000/");
  EXPECT_FALSE(badPort.Execute());
  EXPECT_EQ(badPort.LastError, 12000 + 3);  // malformed address
}

TEST_F(WebRequestTest, ConnectionIsReusedBetweenRequests) {
  const std::string first = WebGetText(Sim().Url("/sim/peer"));
  const std::string second = WebGetText(Sim().Url("/sim/peer"));
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first, second);
}

TEST_F(WebRequestTest, ProxyFromTheEnvironmentCarriesTheRequest) {
  ConnectProxy proxy;
  ASSERT_GT(proxy.Port(), 0);
  setenv("https_proxy", ("http://127.0.0.1:" + std::to_string(proxy.Port())).c_str(), 1);
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
  TWebRequest request(Sim().Url("/sim/echo"));
  const bool executed = request.Execute();
  unsetenv("https_proxy");
  ASSERT_TRUE(executed) << request.LastErrorText;
  EXPECT_EQ(request.StatusCode, 200);
  EXPECT_EQ(proxy.Targets(), std::vector<std::string>{Sim().Host()});
}

TEST_F(WebRequestTest, BusyHookBracketsEachRequest) {
  std::vector<bool> calls;
  SetWebBusyHook([&](bool busy) { calls.push_back(busy); });
  WebGetText(Sim().Url("/sim/echo"));
  SetWebBusyHook({});
  WebGetText(Sim().Url("/sim/echo"));
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

}  // namespace
