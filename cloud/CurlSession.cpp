#include "CurlSession.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace cloud_detail {

namespace {

// More idle handles than requests nested on one thread would only hold sockets open.
constexpr std::size_t kMaxIdleHandles = 4;

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::vector<TCurlHandle>& IdleHandles() {
  thread_local std::vector<TCurlHandle> idle;
  return idle;
}

CURLcode AddTrustToContext(CURL*, void* sslContext, void* fileName) {
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  // A missing or unreadable file adds nothing: the request then stands on the system's
  // store alone and fails on a certificate that only the file would have vouched for.
  if (store) X509_STORE_load_file(store, static_cast<const char*>(fileName));
  return CURLE_OK;
}

}  // namespace

void TCurlDeleter::operator()(CURL* handle) const { curl_easy_cleanup(handle); }

TCurlHandle BorrowCurlHandle() {
  InitialiseOnce();
  auto& idle = IdleHandles();
  if (!idle.empty()) {
    TCurlHandle handle = std::move(idle.back());
    idle.pop_back();
    return handle;
  }
  return TCurlHandle(curl_easy_init());
}

void ReturnCurlHandle(TCurlHandle handle) {
  if (!handle) return;
  curl_easy_reset(handle.get());
  auto& idle = IdleHandles();
  if (idle.size() < kMaxIdleHandles) idle.push_back(std::move(handle));
}

void ApplyTrust(CURL* handle, std::string& fileName) {
  // libcurl may keep one parsed store for later connections; the step below adds to the
  // store it is given, so a kept store would go on trusting a file after the variable
  // was cleared.
#if LIBCURL_VERSION_NUM >= 0x075700  // the store is kept only from libcurl 7.87 on
  curl_easy_setopt(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
#endif
  const char* file = std::getenv("ORVANE_CA_FILE");
  if (!file || !*file) return;
  fileName = file;
  curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &AddTrustToContext);
  curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, fileName.c_str());
}

}  // namespace cloud_detail
