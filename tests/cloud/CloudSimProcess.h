#pragma once
// Runs tools/cloud-sim as a child process on a free loopback port, with its certificate
// in a private temporary folder. Used by the cloud tests and the benchmarks.

#include <string>
#include <sys/types.h>
#include <vector>

class CloudSimProcess {
 public:
  explicit CloudSimProcess(std::vector<std::string> arguments = {});
  ~CloudSimProcess();
  CloudSimProcess(const CloudSimProcess&) = delete;
  CloudSimProcess& operator=(const CloudSimProcess&) = delete;

  bool IsRunning() const { return port_ > 0; }
  int Port() const { return port_; }
  // "127.0.0.1:PORT", the API host as a server row holds it.
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& pathAndQuery) const { return "https://" + Host() + pathAndQuery; }
  const std::string& CertificatePath() const { return certificate_; }
  // Makes this simulator's certificate the extra trusted one of this process.
  void TrustCertificate() const;

 private:
  std::string folder_;
  std::string certificate_;
  pid_t pid_ = -1;
  int port_ = 0;
};
