#pragma once
// The simulator's HTTPS server: routes every request, plays faults, keeps the journal
// of API requests and serves the published version file; the cloud's endpoints are
// CloudApi's.
//
// Thread: the server's worker threads call Handle concurrently; everything they share
// is under `mutex_`. Stop may be called from any thread and wakes requests that hang.

#include "Certificate.h"
#include "CloudApi.h"
#include "Fault.h"
#include "Options.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace httplib {
class SSLServer;
struct Request;
struct Response;
} // namespace httplib

namespace cloudsim {

class SimServer {
public:
    SimServer(Options options, const CertificateFiles& certificate);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Binds the listening socket; false with `error` set when it cannot.
    bool Bind(std::string& error);
    int Port() const { return port_; }
    // Serves until Stop.
    void Run();
    void Stop();
    bool IsStopping();

private:
    void Handle(const httplib::Request& request, httplib::Response& response);
    void HandleControl(const httplib::Request& request, httplib::Response& response);
    // Plays `fault` on the answer; false for FaultKind::None (the request goes on).
    bool PlayFault(const Fault& fault, const httplib::Request& request, httplib::Response& response);
    // The fault set for API requests, counted down by one.
    Fault TakeFault();
    void Record(const httplib::Request& request);
    // Waits up to `milliseconds` or until Stop; false when stopped.
    bool Pause(long milliseconds);

    Options options_;
    CloudApi api_;
    std::unique_ptr<httplib::SSLServer> server_;
    int port_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    Fault fault_;
    int faultCount_ = 0;  // requests left for fault_; 0 = every request until cleared
    std::vector<std::string> journal_;  // JSON objects, oldest first
};

} // namespace cloudsim
