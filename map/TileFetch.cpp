// FIXME: carried on libcurl's easy interface here until the tile download can
// go through the cloud layer's web request.
#include "TileFetch.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "support/MyFunctions.h"

namespace {

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct Transfer {
  TTileFetchResult* result;
  const std::atomic<bool>* cancelled;
};

std::size_t TakeBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  transfer->result->body.append(data, size * count);
  return size * count;
}

std::string Trimmed(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::size_t TakeHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::string line(data, size * count);
  const std::size_t colon = line.find(':');
  if (colon != std::string::npos) {
    const std::string name = LowerText(line.substr(0, colon));
    if (name == "cache-control") transfer->result->cacheControl = Trimmed(line.substr(colon + 1));
    if (name == "expires") transfer->result->expires = Trimmed(line.substr(colon + 1));
  }
  return size * count;
}

int CheckCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->cancelled->load() ? 1 : 0;
}

}  // namespace

TTileFetchResult FetchTile(const std::string& url, const std::string& userAgent, const std::atomic<bool>& cancelled) {
  static std::once_flag globalInit;
  std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  TTileFetchResult result;
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl || cancelled.load()) return result;
  Transfer transfer{&result, &cancelled};
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kTileConnectLimitSec);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kTileStallLimitSec);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, TakeBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, TakeHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  // The progress callback runs about once a second even while nothing
  // arrives, so a cancelled download ends that soon.
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckCancelled);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  if (const char* caFile = std::getenv("ORVANE_CA_FILE"); caFile && *caFile)
    curl_easy_setopt(handle, CURLOPT_CAINFO, caFile);

  const CURLcode code = curl_easy_perform(handle);
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  result.statusCode = static_cast<int>(status);
  result.received = code == CURLE_OK;
  if (!result.received) result.body.clear();
  return result;
}
