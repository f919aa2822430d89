// With a trace file open, every cloud request is one line with its method, address,
// status and time, and neither the key nor the token it carried reaches the file.
#include "CloudSimProcess.h"
#include "cloud/OrvaneApi.h"
#include "support/Trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

TEST(CloudTrace, RequestsAreTracedWithoutKeyOrToken) {
  const std::string key = "S2V5VHJhY2VkLTAxMjM=";
  CloudSimProcess sim({"--account", "owner-t:" + key});
  ASSERT_TRUE(sim.IsRunning());
  sim.TrustCertificate();
  char folder[] = "/tmp/orvane-trace.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/trace.txt";
  ASSERT_TRUE(Trace::Open(path));

  TOrvaneAPI api;
  api.OwnerID = "owner-t";
  api.SetKey(key);
  api.SetServer(sim.Host());
  const std::string token = api.GetToken();
  ASSERT_FALSE(token.empty());
  api.RegisterGateway("QEL100000000000009", true);
  Trace::Close();

  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  std::remove(path.c_str());
  rmdir(folder);
  const std::string traced = text.str();
  EXPECT_NE(traced.find("HTTP POST " + sim.Url("/v1/auth/token/api") + " -> 200 ("), std::string::npos) << traced;
  EXPECT_NE(traced.find("HTTP PUT " + sim.Url("/v1/owner/owner-t/gateway") + " -> "), std::string::npos) << traced;
  EXPECT_EQ(traced.find(key), std::string::npos);
  EXPECT_EQ(traced.find(token), std::string::npos);
}
