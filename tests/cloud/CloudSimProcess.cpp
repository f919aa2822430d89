#include "CloudSimProcess.h"

#include "../SpawnWithOutput.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Guard against a simulator that never starts; the wait ends as soon as it prints.
constexpr int kStartGuardMs = 15000;

// Reads standard output until both start lines arrived.
bool ReadStartLines(int descriptor, std::string& portLine, std::string& certificateLine) {
  std::string text;
  while (text.find("\ncertificate ") == std::string::npos || text.back() != '\n') {
    pollfd p{descriptor, POLLIN, 0};
    if (poll(&p, 1, kStartGuardMs) <= 0) return false;
    char buffer[512];
    const ssize_t n = read(descriptor, buffer, sizeof buffer);
    if (n <= 0) return false;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t split = text.find('\n');
  portLine = text.substr(0, split);
  certificateLine = text.substr(split + 1, text.find('\n', split + 1) - split - 1);
  return true;
}
}  // namespace

CloudSimProcess::CloudSimProcess(std::vector<std::string> arguments) {
  char pattern[] = "/tmp/cloudsim-test-XXXXXX";
  if (!mkdtemp(pattern)) return;
  folder_ = pattern;
  std::vector<std::string> all{CLOUD_SIM_PATH, "--port", "0", "--cert-dir", folder_ + "/cert"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  int output = -1;
  pid_ = SpawnWithOutput(std::move(all), output);
  std::string portLine, certificateLine;
  if (pid_ > 0 && ReadStartLines(output, portLine, certificateLine) && portLine.rfind("port ", 0) == 0) {
    port_ = std::atoi(portLine.c_str() + 5);
    certificate_ = certificateLine.substr(std::string("certificate ").size());
  }
  if (output >= 0) close(output);
}

CloudSimProcess::~CloudSimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void CloudSimProcess::TrustCertificate() const { setenv("ORVANE_CA_FILE", certificate_.c_str(), 1); }
