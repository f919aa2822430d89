#include "TileFetch.h"

#include "cloud/MyInternet.h"
#include "support/MyFunctions.h"

namespace {

// The value of a "Name: value" header line whose lowercased name is `name`.
bool HeaderValue(const std::string& line, const std::string& name, std::string& value) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos || LowerText(line.substr(0, colon)) != name) return false;
  value = TrimCharSet(line.substr(colon + 1), " \t");
  return true;
}

}  // namespace

TTileFetch WebTileFetch(std::int32_t connectLimitMs, std::int32_t stallLimitMs) {
  return [connectLimitMs, stallLimitMs](const std::string& url, const std::string& userAgent,
                                        const std::atomic<bool>& cancelled) {
    TTileFetchResult result;
    TWebRequest request(url, userAgent);
    request.ConnectTimeoutMs = connectLimitMs;
    request.StallTimeoutMs = stallLimitMs;
    // A provider going away gives the download up instead of waiting out its limits.
    request.AbortFlag = &cancelled;
    result.received = request.Execute();
    result.statusCode = request.StatusCode;
    if (!result.received) return result;
    result.body = std::move(request.Response);
    for (const std::string& line : request.HeaderLines) {
      HeaderValue(line, "cache-control", result.cacheControl);
      HeaderValue(line, "expires", result.expires);
    }
    return result;
  };
}
