#include "TileFetch.h"

#include "cloud/MyInternet.h"

TTileFetch WebTileFetch(TTileFetchLimits limits) {
  return [limits](const std::string& url, const std::string& userAgent, const std::atomic<bool>& cancelled) {
    TTileFetchResult result;
    TWebRequest request(url, userAgent);
    request.ConnectTimeoutMs = limits.connectMs;
    request.StallTimeoutMs = limits.stallMs;
    request.DeadlineMs = limits.deadlineMs;
    request.MaxResponseBytes = static_cast<std::size_t>(limits.maxBytes);
    // A provider going away gives the download up instead of waiting out its limits.
    request.AbortFlag = &cancelled;
    result.received = request.Execute();
    result.statusCode = request.StatusCode;
    if (!result.received) return result;
    result.body = std::move(request.Response);
    result.cacheControl = request.HeaderValue("Cache-Control");
    result.expires = request.HeaderValue("Expires");
    return result;
  };
}
