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

// Trust for the next request: the system's certificates, plus those of the PEM file
// named by ORVANE_CA_FILE (read now) when it is set. `fileName` holds the name for as
// long as the request runs.
void ApplyTrust(CURL* handle, std::string& fileName);

}  // namespace cloud_detail
