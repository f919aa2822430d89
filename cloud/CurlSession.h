#pragma once
// Library-internal: the libcurl easy handles that TWebRequest borrows.
//
// Each thread keeps its idle handles. A handle keeps its connection cache and TLS
// session cache across curl_easy_reset, so the next request from the same thread to
// the same host goes over the connection that is already open. A request that starts
// while another one on the same thread is running (from a progress handler) borrows a
// second handle. Handles are cleaned up when their thread ends.

#include <memory>
#include <string>
#include <vector>

typedef void CURL;

namespace cloud_detail {

struct TCurlDeleter {
  void operator()(CURL* handle) const;
};
using TCurlHandle = std::unique_ptr<CURL, TCurlDeleter>;

// A handle reset to libcurl's defaults, or null when libcurl cannot make one.
TCurlHandle BorrowCurlHandle();
// Hands the handle back to this thread's idle list (reset, connections kept).
void ReturnCurlHandle(TCurlHandle handle);

// What the TLS set-up of one request needs while it runs.
struct TTrustSetup {
  std::string fileName;   // ORVANE_CA_FILE as read at the start of the request
  bool lenient = false;   // authority errors are forgiven (never an expired certificate)
};

// Trust for the next request: the system's certificates, plus those of the PEM file
// named by ORVANE_CA_FILE (read now) when it is set. Without `verifyCertificate` the
// host name is not checked and an unknown authority is accepted; every other
// certificate fault still ends the request. `setup` must outlive the request.
void ApplyTrust(CURL* handle, bool verifyCertificate, TTrustSetup& setup);

// The cause of a failed certificate check, from libcurl's verify result (an X509_V_*
// code; 0 or "unspecified" when the chain was fine, so the host name was what failed).
std::string CertificateErrorText(long verifyResult);

// Whether libcurl hands its connections to the TLS library whose trust store the
// request set-up extends.
bool CurlUsesOpenSSL();
std::vector<std::string> TrustProblems();

}  // namespace cloud_detail
