// TOrvaneAPI against cloud-sim on loopback: what reaches the cloud, byte for byte.
#include "CloudSimProcess.h"
#include "cloud/MyInternet.h"
#include "cloud/MyJSON.h"
#include "cloud/OrvaneApi.h"
#include "support/Clock.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <tuple>

namespace {

constexpr const char* kOwner = "owner-1";
constexpr const char* kKey = "S2V5T25lLTAxMjM0NTY3";
constexpr const char* kGateway = "QEL100000000000001";

CloudSimProcess& Sim() {
  static CloudSimProcess sim({"--account", std::string(kOwner) + ":" + kKey, "--account", "owner-2:S2V5VHdv",
                              "--gateway", std::string(kOwner) + ":" + kGateway});
  static const bool trusted = (sim.TrustCertificate(), true);
  (void)trusted;
  return sim;
}

struct Received {
  std::string method, target, authorization, contentType, userAgent, body;
  auto Tie() const { return std::tie(method, target, authorization, contentType, userAgent, body); }
};

std::vector<Received> Journal() {
  const TMyJSON list(TMyJSON(WebGetText(Sim().Url("/sim/journal"))).RawValue("data"));
  std::vector<Received> requests;
  for (int i = 0; i < list.Count(); ++i) {
    const TMyJSON entry(list.RawValue(i));
    const TMyJSON headers(entry.RawValue("headers"));
    requests.push_back({entry.Value("method").ToString(), entry.Value("target").ToString(),
                        headers.Value("Authorization").ToString(), headers.Value("Content-Type").ToString(),
                        headers.Value("User-Agent").ToString(), entry.Value("body").ToString()});
  }
  return requests;
}

int TokenRequests() {
  int count = 0;
  for (const Received& r : Journal()) count += r.target == "/v1/auth/token/api" ? 1 : 0;
  return count;
}

void SimControl(std::uint8_t verb, const std::string& path, const std::string& body = {}) {
  TWebRequest request(Sim().Url(path));
  request.Verb = verb;
  request.SetContent(body, "text/plain");
  ASSERT_TRUE(request.Execute());
  ASSERT_EQ(request.StatusCode, 200) << path << " " << request.Response;
}

class OrvaneApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Sim().IsRunning()) << "cloud-sim did not start";
    SimControl(wvDELETE, "/sim/journal");
    SimControl(wvPUT, "/sim/token-lifetime", "3600");
    SimControl(wvDELETE, "/sim/fault");
    SetNowOverride([this] { return now; });
    SetSteadySecondsOverride([this] { return steady; });
    api.OwnerID = kOwner;
    api.SetServer(Sim().Host());
    api.SetKey(kKey);
  }
  void TearDown() override {
    SetNowOverride({});
    SetSteadySecondsOverride({});
  }

  double now = 46000.5;  // a fixed local time; tests move it by hand
  double steady = 1000;  // seconds on the steady clock; likewise
  TOrvaneAPI api;
};

TEST_F(OrvaneApiTest, EveryEndpointSendsItsVerbPathAndBody) {
  const std::string owner = std::string("/v1/owner/") + kOwner + "/gateway";
  struct Case {
    std::function<std::string(TOrvaneAPI&)> call;
    const char* method;
    std::string target;
    std::string body;
    std::string answer;
  };
  const Case cases[] = {
      {[](TOrvaneAPI& a) { return a.GetGateways(""); }, "GET", owner, "", ""},
      {[](TOrvaneAPI& a) { return a.GetGateways(kGateway); }, "GET", owner + "/" + kGateway, "", ""},
      {[](TOrvaneAPI& a) { return a.GetGatewaySummary(); }, "GET", owner + "/summary", "",
       R"({"data":{"total":1,"online":0,"approved":1,"pending":0}})"},
      {[](TOrvaneAPI& a) { return a.RequestGatewayInfo(kGateway); }, "POST", owner + "/" + kGateway + "/action",
       R"({"action":"getGwInfo"})", R"({"data":"OK"})"},
      {[](TOrvaneAPI& a) { return a.GatewayAction(kGateway, "!oscar"); }, "POST", owner + "/" + kGateway + "/action",
       R"({"action":"!oscar"})", R"({"data":"OK"})"},
      {[](TOrvaneAPI& a) { return a.RegisterGateway("QEL100000000000002", false); }, "PUT", owner,
       R"({"gateways":["QEL100000000000002"]})", R"({"data":"OK"})"},
      {[](TOrvaneAPI& a) { return a.RegisterGateway("QEL100000000000003", true); }, "PUT", owner,
       R"({"gateways":["QEL100000000000003"],"autoApprove":true})", R"({"data":"OK"})"},
      {[](TOrvaneAPI& a) { return a.DeleteGateway("QEL100000000000003"); }, "DELETE", owner,
       R"({"gateways":["QEL100000000000003"]})", R"({"data":"OK"})"},
  };
  ASSERT_TRUE(api.IsReady());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + (" " + c.target));
    SimControl(wvDELETE, "/sim/journal");
    const std::string answer = c.call(api);
    if (!c.answer.empty()) {
      EXPECT_EQ(answer, c.answer);
    }
    EXPECT_EQ(JSONGetText(answer, "message"), "");
    const std::vector<Received> journal = Journal();
    ASSERT_EQ(journal.size(), 1u);  // the token was fetched once, before the first case
    EXPECT_EQ(journal[0].Tie(), (Received{c.method, c.target, api.Token(), c.body.empty() ? "" : "application/json",
                                          "Qel-Orvane API/1.00", c.body}
                                     .Tie()));
  }
  const TMyJSON record(TMyJSON(api.GetGateways(kGateway)).RawValue("data"));
  EXPECT_EQ(record.Value("gatewayId").ToString(), kGateway);
  EXPECT_EQ(record.Value("status").ToString(), "approved");
  EXPECT_FALSE(TMyJSON(TMyJSON(record.RawValue("reportedConf")).RawValue("additional")).Values.empty());
  EXPECT_NE(TMyJSON(record.RawValue("gatewayInfo")).IndexOf("infoRequested"), -1);
}

TEST_F(OrvaneApiTest, TokenRequestCarriesTheKeyAndIsCachedUntilExpiry) {
  ASSERT_TRUE(api.IsReady());
  api.GetGatewaySummary();
  api.GetGatewaySummary();
  std::vector<Received> journal = Journal();
  ASSERT_EQ(journal.size(), 3u);
  journal[0].userAgent.clear();
  EXPECT_EQ(journal[0].Tie(), (Received{"POST", "/v1/auth/token/api", kKey, "application/json", "", ""}.Tie()));
  EXPECT_NEAR(api.TokenExpiry(), now + (3600 - 15) / 86400.0, 1e-9);

  // The lifetime runs on the steady clock; steps of the wall clock (a time zone change,
  // the end of daylight saving, a correction) neither keep nor drop the token.
  const std::string first = api.Token();
  const struct {
    double wallStepDays, steadyStepSeconds;
    int tokenRequests;
  } steps[] = {
      {-1.0 / 24, 3600 - 15 - 1, 1},  // the clock went back an hour: still one second left
      {+2, 0, 1},                     // two days forward on the wall alone
      {-2, 1, 2},                     // the lifetime is up, whatever the wall says
  };
  for (const auto& step : steps) {
    now += step.wallStepDays;
    steady += step.steadyStepSeconds;
    EXPECT_NE(api.GetGatewaySummary(), "");
    EXPECT_EQ(TokenRequests(), step.tokenRequests) << step.wallStepDays;
  }
  EXPECT_NE(api.Token(), first);

  // The same server and key keep the token; an owner change alone keeps it too.
  api.SetServer(Sim().Host());
  api.SetKey(kKey);
  api.OwnerID = "owner-2";
  EXPECT_EQ(JSONGetText(api.GetGatewaySummary(), "message"), "Access token not valid for owner owner-2");
  EXPECT_EQ(TokenRequests(), 2);
}

TEST_F(OrvaneApiTest, ShortLifetimesAreRenewedOnTheNextCall) {
  struct Case {
    const char* lifetime;
    int tokenRequestsForThreeCalls;
  };
  // A token dead on arrival is refused by the cloud (401): renewed once more per call.
  const Case cases[] = {{"16", 1}, {"15", 3}, {"10", 3}, {"0", 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lifetime);
    SimControl(wvPUT, "/sim/token-lifetime", c.lifetime);
    SimControl(wvDELETE, "/sim/journal");
    api.Reset();
    for (int call = 0; call < 3; ++call) EXPECT_NE(api.GetGatewaySummary(), "");
    EXPECT_EQ(TokenRequests(), c.tokenRequestsForThreeCalls);
  }
}

TEST_F(OrvaneApiTest, FailedTokenRequestMakesTheClientInvalidUntilReset) {
  struct Case {
    const char* what;
    std::function<void(TOrvaneAPI&)> breakIt;
  };
  const Case cases[] = {
      {"wrong key", [](TOrvaneAPI& a) { a.SetKey("V3Jvbmc="); }},
      {"server error", [](TOrvaneAPI&) { SimControl(wvPUT, "/sim/fault?count=1", "status=500"); }},
      {"answer without a token", [](TOrvaneAPI&) { SimControl(wvPUT, "/sim/fault?count=1", "garbage"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    api.Reset();
    c.breakIt(api);
    SimControl(wvDELETE, "/sim/journal");
    EXPECT_EQ(api.GetGatewaySummary(), "");
    EXPECT_TRUE(api.Invalid());
    EXPECT_FALSE(api.IsReady());
    EXPECT_EQ(api.RegisterGateway(kGateway, true), "");
    EXPECT_LE(Journal().size(), 1u);  // the failed token request, and nothing after it
    api.SetServer(Sim().Host());
    api.SetKey(kKey);
    api.Reset();
    EXPECT_TRUE(api.IsReady());
  }
  TOrvaneAPI noOwner;
  noOwner.SetServer(Sim().Host());
  noOwner.SetKey(kKey);
  SimControl(wvDELETE, "/sim/journal");
  EXPECT_FALSE(noOwner.IsReady());
  EXPECT_TRUE(Journal().empty());
}

TEST_F(OrvaneApiTest, TokenRequestLostInTransitIsANetworkErrorAndTriedAgain) {
  const struct {
    const char* what;
    std::function<void(TOrvaneAPI&)> breakIt;
    const char* error;
  } cases[] = {
      {"unreachable server", [](TOrvaneAPI& a) { a.SetServer("127.0.0.1:1"); }, "Couldn't connect to server"},
      {"dropped answer", [](TOrvaneAPI&) { SimControl(wvPUT, "/sim/fault?count=1", "drop"); },
       "Transferred a partial file"},
      {"no answer in time",
       [](TOrvaneAPI& a) {
         a.DeadlineMs = 1000;
         SimControl(wvPUT, "/sim/fault?count=1", "hang");
       },
       "no complete answer within 1 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    api.Reset();
    c.breakIt(api);
    EXPECT_EQ(api.GetGatewaySummary(), "");
    EXPECT_FALSE(api.Invalid());
    EXPECT_EQ(api.LastErrorText(), c.error);
    // The same client, unchanged but for the server coming back, gets its token.
    api.SetServer(Sim().Host());
    api.DeadlineMs = kApiDeadlineMs;
    EXPECT_NE(api.GetGatewaySummary(), "");
    EXPECT_EQ(api.LastErrorText(), "");
  }
}

TEST_F(OrvaneApiTest, A401IsRetriedOnceWithANewTokenOtherErrorsAreReturnedUnchanged) {
  ASSERT_TRUE(api.IsReady());
  const std::string first = api.Token();
  SimControl(wvPUT, "/sim/fault?count=1", "status=401");
  EXPECT_EQ(TMyJSON(TMyJSON(api.GetGateways(kGateway)).RawValue("data")).Value("gatewayId").ToString(), kGateway);
  EXPECT_EQ(TokenRequests(), 2);
  EXPECT_NE(api.Token(), first);

  SimControl(wvPUT, "/sim/fault?count=1", "status=403");
  EXPECT_EQ(api.GetGateways(kGateway), R"({"message":"Simulated error 403"})");
  EXPECT_FALSE(api.Invalid());  // an API error is the caller's to read, not a token failure
  EXPECT_EQ(TokenRequests(), 2);
  EXPECT_EQ(api.DeleteGateway("QEL999999999999999"), R"({"message":"Gateway QEL999999999999999 not found"})");
}

// A server that trickles or floods ends the request by the deadline or the size cap,
// and a flood never reaches memory.
TEST_F(OrvaneApiTest, TrickleAndHugeAnswersEndByDeadlineAndCap) {
  ASSERT_TRUE(api.IsReady());
  api.DeadlineMs = 2000;
  const struct {
    const char* fault;
    std::string error;
    double atMostSeconds;
  } cases[] = {
      {"trickle=50", "no complete answer within 2 s", 3.5},
      {"huge=50000000", "answer larger than 4194304 bytes", 2.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    SimControl(wvPUT, "/sim/fault?count=1", c.fault);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(api.GetGatewaySummary(), "");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), c.atMostSeconds);
    EXPECT_EQ(api.LastErrorText(), c.error);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "kB more at the peak";
  }
}

TEST(TokenLifetime, ExpiresInIsClampedWithoutOverflow) {
  const struct {
    const char* text;
    std::int64_t seconds;
  } cases[] = {
      {"3600", 3600},  {" 3600.9 ", 3600}, {"86401", kMaxTokenLifetimeSeconds},
      {"1e300", kMaxTokenLifetimeSeconds}, {"99999999999999999999999", kMaxTokenLifetimeSeconds},
      {"inf", kMaxTokenLifetimeSeconds},   {"-5", 0},   {"nan", 0},  {"", 0},  {"3600s", 0},  {"\"3600\"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TokenLifetimeSeconds(c.text), c.seconds) << c.text;
}

TEST_F(OrvaneApiTest, InsertedValuesStayInsideTheirSegmentOrString) {
  const std::string id = "a/b?c d\"";
  EXPECT_EQ(JSONGetText(api.GetGateways(id), "message"), "Gateway " + id + " not found");
  const std::string injection = R"(X"],"autoApprove":true,"y":[")";
  EXPECT_EQ(JSONGetText(api.RegisterGateway(injection, false), "message"), "Invalid gateway ID " + injection);
  EXPECT_EQ(JSONGetText(api.GatewayAction(kGateway, "a\"b"), "message"), "Unknown action a\"b");
  std::vector<Received> journal = Journal();
  ASSERT_EQ(journal.size(), 4u);
  EXPECT_EQ(journal[1].target, std::string("/v1/owner/") + kOwner + "/gateway/a%2Fb%3Fc%20d%22");
  EXPECT_EQ(journal[2].body, R"({"gateways":["X\"],\"autoApprove\":true,\"y\":[\""]})");
  EXPECT_EQ(journal[3].body, R"({"action":"a\"b"})");
}

TEST_F(OrvaneApiTest, LogLinesNeverShowTheKeyOrTheToken) {
  std::vector<std::string> lines;
  TOrvaneAPI logged;
  logged.OnLog = [&](TOrvaneAPI& sender, const std::string& line) {
    EXPECT_EQ(&sender, &logged);
    lines.push_back(line);
  };
  logged.Verbose = true;
  logged.OwnerID = kOwner;
  logged.SetServer(Sim().Host());
  logged.SetKey(kKey);
  logged.SetServer(Sim().Host());  // same values: nothing logged
  logged.SetKey(kKey);
  now = 46000.5;  // 12:00
  const std::string answer = logged.GetGatewaySummary();
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find(kKey), std::string::npos) << line;
    EXPECT_EQ(line.find(logged.Token()), std::string::npos) << line;
  }
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[3].rfind("Tokeb contents: ", 0), 0u);
  lines[3] = "Tokeb contents: ";
  EXPECT_EQ(lines, (std::vector<std::string>{"Cloud URI: " + Sim().Host(), "Key was set",
                                             "Token: Valid, expires: 09/12/2025 12:59", "Tokeb contents: ", "----",
                                             "URI: " + Sim().Url(std::string("/v1/owner/") + kOwner + "/gateway/summary"),
                                             "Contents: ", "Result: " + answer}));
}

}  // namespace
