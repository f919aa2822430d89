// What provisioning one gateway costs, against gateway-sim and cloud-sim:
//   Tool   orvane-monitor --provision --port COMn --set 97=bench.apn, one process per
//          gateway as a workshop's loop runs it (start, window, dialogue, cloud, exit);
//   Bare   the same exchanges made directly by this program: the window's Refresh
//          request, the parameter written and read back and the farewell on the
//          pseudo-terminal, each command after the acknowledgement of the one before
//          and the 100 ms the gateway is promised between two commands; then token,
//          registration and record over a fresh HTTPS connection. That is what the
//          simulators' own answers cost; the difference is what the tool adds.
// Ten gateways per round, the two kinds taking turns gateway by gateway; the medians
// per gateway and their difference are printed at the end (target: under 1 s added).
//
//   provision_bench [--benchmark_filter=...]

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CloudSimProcess.h"
#include "cloud/OrvaneApi.h"

namespace {

constexpr int kGateways = 10;
constexpr const char* kOwner = "bench-owner";
constexpr const char* kKey = "QmVuY2hLZXk=";
using Clock = std::chrono::steady_clock;

std::string GatewayId(int n) {
  char id[32];
  std::snprintf(id, sizeof id, "QEL1000000000%05d", n);
  return id;
}

// The simulators and the settings hive the tool runs on, made once.
struct Line {
  QTemporaryDir folder;
  CloudSimProcess cloud{{"--account", std::string(kOwner) + ":" + kKey}};
  std::vector<std::unique_ptr<QProcess>> gateways;
  bool ready = false;

  Line() {
    if (!cloud.IsRunning()) return;
    QString ports;
    for (int n = 1; n <= kGateways; ++n) {
      auto sim = std::make_unique<QProcess>();
      sim->setStandardOutputFile(QProcess::nullDevice());
      sim->setStandardErrorFile(QProcess::nullDevice());
      const QString link = folder.filePath(QStringLiteral("com%1").arg(n));
      sim->start(QStringLiteral(GATEWAY_SIM_PATH),
                 {"--link", link, "--gateway-id", QString::fromStdString(GatewayId(n)), "--bridges", "0"});
      for (int i = 0; i < 200 && !QFileInfo::exists(link); ++i) QThread::msleep(10);
      if (!QFileInfo::exists(link)) return;
      ports += QStringLiteral("\"COM%1\"=\"%2\"\n").arg(n).arg(link);
      gateways.push_back(std::move(sim));
    }
    QFile hive(folder.filePath("settings.reg"));
    if (!hive.open(QIODevice::WriteOnly)) return;
    hive.write(QStringLiteral("ORVANE SETTINGS HIVE 1\n\n[Software\\\\Qel\\\\Orvane Monitor\\\\Ports]\n%1\n"
                              "[Software\\\\Qel\\\\Orvane Monitor\\\\Endpoints]\n\"aws-prod-cloud\"=\"%2\"\n"
                              "\"Version host\"=\"127.0.0.1:1\"\n")
                   .arg(ports, QString::fromStdString(cloud.Host()))
                   .toUtf8());
    hive.close();
    QProcess account;
    account.setProcessEnvironment(Environment());
    account.start(QStringLiteral(ACCOUNT_TOOL_PATH),
                  {"--add-account", kOwner, "--title", "Bench", "--server", "aws-prod-cloud", "--select"});
    account.write(kKey);
    account.closeWriteChannel();
    ready = account.waitForFinished(10000) && account.exitCode() == 0;
  }
  ~Line() {
    for (auto& sim : gateways) {
      sim->terminate();
      sim->waitForFinished(3000);
    }
  }
  QProcessEnvironment Environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVANE_SETTINGS_DIR", folder.path());
    environment.insert("ORVANE_CA_FILE", QString::fromStdString(cloud.CertificatePath()));
    environment.insert("XDG_CACHE_HOME", folder.filePath("cache"));
    return environment;
  }
};

Line& TheLine() {
  static Line line;
  return line;
}

bool RunTool(int n) {
  QProcess monitor;
  monitor.setStandardOutputFile(QProcess::nullDevice());
  monitor.setProcessEnvironment(TheLine().Environment());
  monitor.start(QStringLiteral(MONITOR_PATH),
                {"--provision", "--port", QStringLiteral("COM%1").arg(n), "--set", "97=bench.apn"});
  return monitor.waitForFinished(60000) && monitor.exitCode() == 0;
}

// --- the bare client ---

class BarePort {
 public:
  explicit BarePort(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios mode{};
    if (fd_ >= 0 && tcgetattr(fd_, &mode) == 0) {
      cfmakeraw(&mode);
      tcsetattr(fd_, TCSANOW, &mode);
    }
  }
  ~BarePort() {
    if (fd_ >= 0) close(fd_);
  }
  // Writes the command and reads until its acknowledgement, and `report` when one is named.
  bool Command(const std::string& command, const std::string& report = {}) {
    const std::string line = command + "\r";
    if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
    const std::string word = command.substr(1, command.find(' ') - 1);
    bool acknowledged = false, reported = report.empty();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!(acknowledged && reported) && Clock::now() < deadline) {
      std::size_t end;
      while ((end = pending_.find('\r')) != std::string::npos) {
        std::string got = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        got.erase(0, got.find_first_not_of("\n"));
        acknowledged = acknowledged || got == "OK " + word;
        reported = reported || got.rfind(report, 0) == 0;
      }
      if (acknowledged && reported) break;
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 50) > 0) {
        char buffer[4096];
        const ssize_t count = read(fd_, buffer, sizeof buffer);
        if (count > 0) pending_.append(buffer, static_cast<std::size_t>(count));
      }
    }
    // The gateway is promised this pause between two commands.
    QThread::msleep(100);
    return acknowledged && reported;
  }

 private:
  int fd_;
  std::string pending_;
};

size_t Append(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// One request on the handle; the answer's body, "" on a transport failure.
std::string Request(CURL* curl, const char* method, const std::string& path, const std::string& authorization,
                    const std::string& body) {
  std::string answer;
  const std::string url = TheLine().cloud.Url(path);
  const std::string header = "Authorization: " + authorization;
  curl_slist* headers = curl_slist_append(nullptr, header.c_str());
  headers = curl_slist_append(headers, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_CAINFO, TheLine().cloud.CertificatePath().c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  const bool done = curl_easy_perform(curl) == CURLE_OK;
  curl_slist_free_all(headers);
  return done ? answer : std::string();
}

bool RunBare(int n) {
  const std::string id = GatewayId(n);
  {
    BarePort port(TheLine().folder.filePath(QStringLiteral("com%1").arg(n)).toStdString());
    bool ok = port.Command("%info", ":info") && port.Command("%show_off") && port.Command("%show_cell 1") &&
              port.Command("%show_state 1") && port.Command("%show_io 5") && port.Command("%par_get 97", ":get 97") &&
              port.Command("%par_get 5640", ":get 5640") && port.Command("%par_get 5641", ":get 5641") &&
              port.Command("%par_set 97 bench.apn") && port.Command("%par_get 97", ":get 97 bench.apn") &&
              port.Command("%show_off");
    if (!ok) return false;
  }
  CURL* curl = curl_easy_init();
  const std::string token = Request(curl, "POST", "/v1/auth/token/api", kKey, "");
  const std::size_t start = token.find("\"access_token\":\"");
  const std::string bearer =
      start == std::string::npos ? std::string() : token.substr(start + 16, token.find('"', start + 16) - start - 16);
  const std::string owner = std::string("/v1/owner/") + kOwner + "/gateway";
  const bool ok = !bearer.empty() &&
                  Request(curl, "PUT", owner, bearer, "{\"gateways\":[\"" + id + "\"],\"autoApprove\":true}")
                          .find("OK") != std::string::npos &&
                  Request(curl, "GET", owner + "/" + id, bearer, "").find("\"gatewayId\"") != std::string::npos;
  curl_easy_cleanup(curl);
  return ok;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double g_toolSeconds = 0, g_bareSeconds = 0;

void BM_ProvisionTenGatewaysBesideBareExchanges(benchmark::State& state) {
  if (!TheLine().ready) {
    state.SkipWithError("the simulators or the settings did not start");
    return;
  }
  std::vector<double> tool, bare;
  for (auto _ : state) {
    for (int n = 1; n <= kGateways; ++n) {
      auto start = Clock::now();
      if (!RunTool(n)) state.SkipWithError("provisioning failed");
      tool.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      start = Clock::now();
      if (!RunBare(n)) state.SkipWithError("bare exchange failed");
      bare.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  g_toolSeconds = Median(tool);
  g_bareSeconds = Median(bare);
  state.counters["tool_s_per_gateway"] = g_toolSeconds;
  state.counters["bare_s_per_gateway"] = g_bareSeconds;
  state.counters["added_s"] = g_toolSeconds - g_bareSeconds;
  state.counters["ratio"] = g_bareSeconds > 0 ? g_toolSeconds / g_bareSeconds : 0;
}
BENCHMARK(BM_ProvisionTenGatewaysBesideBareExchanges)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("provisioning: median %.2f s per gateway, bare exchanges %.2f s, the tool adds %.2f s (target < 1 s), "
              "ratio %.2f\n",
              g_toolSeconds, g_bareSeconds, g_toolSeconds - g_bareSeconds,
              g_bareSeconds > 0 ? g_toolSeconds / g_bareSeconds : 0.0);
  curl_global_cleanup();
  return 0;
}
