#include "CurlSession.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// The chain ends at no certificate the store trusts.
bool IsAuthorityError(long code) {
  switch (code) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return true;
    default:
      return false;
  }
}

// Without verification the user chose to trust a server whose name or issuer the
// store cannot vouch for; a certificate out of its validity, revoked or badly signed is
// still refused. The error is cleared so that libcurl's own check of the result agrees.
int ForgiveAuthorityErrors(int ok, X509_STORE_CTX* context) {
  if (ok) return 1;
  if (!IsAuthorityError(X509_STORE_CTX_get_error(context))) return 0;
  X509_STORE_CTX_set_error(context, X509_V_OK);
  return 1;
}

CURLcode SetUpContext(CURL*, void* sslContext, void* data) {
  auto* context = static_cast<SSL_CTX*>(sslContext);
  const auto& setup = *static_cast<const TTrustSetup*>(data);
  // A missing or unreadable file adds nothing: the request then stands on the system's
  // store alone and fails on a certificate that only the file would have vouched for
  // (the file's state is told once at start, see TrustProblems).
  if (!setup.fileName.empty()) {
    if (X509_STORE* store = SSL_CTX_get_cert_store(context)) X509_STORE_load_file(store, setup.fileName.c_str());
  }
  if (setup.lenient) SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &ForgiveAuthorityErrors);
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

void ApplyTrust(CURL* handle, bool verifyCertificate, TTrustSetup& setup) {
  // The peer is always checked; only the host name check follows the caller's choice.
  // Authority errors are forgiven by the context step, which only OpenSSL runs:
  // elsewhere an unverified request is stricter than asked, never weaker.
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, verifyCertificate ? 2L : 0L);
  setup.lenient = !verifyCertificate;
  // libcurl may keep one parsed store for later connections; the step below adds to the
  // store it is given, so a kept store would go on trusting a file after the variable
  // was cleared.
#if LIBCURL_VERSION_NUM >= 0x075700  // the store is kept only from libcurl 7.87 on
  curl_easy_setopt(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
#endif
  const char* file = std::getenv("ORVANE_CA_FILE");
  setup.fileName = file ? file : "";
  if (setup.fileName.empty() && !setup.lenient) return;
  curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &SetUpContext);
  curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, &setup);
}

std::string CertificateErrorText(long verifyResult) {
  if (IsAuthorityError(verifyResult)) return "certificate of an unknown authority";
  switch (verifyResult) {
    // libcurl checks the host name itself once the chain passed, leaving the chain's
    // result at "ok" or "unspecified" (by version).
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "certificate issued for another host name";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "certificate expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certificate not yet valid";
    case X509_V_ERR_CERT_REVOKED:
      return "certificate revoked";
    default:
      return std::string("certificate refused: ") + X509_verify_cert_error_string(verifyResult);
  }
}

bool CurlUsesOpenSSL() {
  InitialiseOnce();
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  return info && info->ssl_version && std::strncmp(info->ssl_version, "OpenSSL", 7) == 0;
}

std::vector<std::string> TrustProblems() {
  std::vector<std::string> problems;
  if (!CurlUsesOpenSSL()) {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    problems.push_back(std::string("libcurl uses ") + (info && info->ssl_version ? info->ssl_version : "no TLS library") +
                       ", not OpenSSL: ORVANE_CA_FILE is not used and unverified requests still check the authority");
  }
  const char* file = std::getenv("ORVANE_CA_FILE");
  if (!file || !*file) return problems;
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), &X509_STORE_free);
  if (::access(file, R_OK) != 0) {
    problems.push_back(std::string("ORVANE_CA_FILE ") + file + ": " + std::strerror(errno));
  } else if (!store || X509_STORE_load_file(store.get(), file) != 1) {
    problems.push_back(std::string("ORVANE_CA_FILE ") + file + ": no certificate could be read from it");
  }
  return problems;
}

}  // namespace cloud_detail
