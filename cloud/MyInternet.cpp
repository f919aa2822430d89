#include "MyInternet.h"

#include "CurlSession.h"
#include "support/MyConvert.h"
#include "support/MyFunctions.h"
#include "support/Trace.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <exception>
#include <new>
#include <memory>
#include <mutex>

namespace {

// The body reaches callers, and their progress handlers, in pieces of at most this size.
constexpr std::size_t kChunkBytes = 20480;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Digits only, within 32 bits; anything else gives 0.
std::int32_t PlainDecimal(const std::string& text) {
  if (text.empty() || !IsAllDigits(text)) return 0;
  long long value = 0;
  for (char c : text) {
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<std::int32_t>(value);
}

// "30 s", or milliseconds when the limit is not whole seconds.
std::string MillisecondsText(std::int32_t ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::mutex busyHookMutex;
std::function<void(bool)> busyHook;

void SignalBusy(bool busy) {
  std::function<void(bool)> hook;
  {
    std::lock_guard lock(busyHookMutex);
    hook = busyHook;
  }
  if (hook) hook(busy);
}

// The extra header lines with the add-or-replace rule: a later line replaces an earlier
// one of the same name (names compared without regard to case).
std::vector<std::string> HeaderBlockLines(const std::string& block) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < block.size()) {
    std::size_t end = block.find("\r\n", start);
    if (end == std::string::npos) end = block.size();
    std::string line = block.substr(start, end - start);
    start = end + 2;
    if (line.empty()) continue;
    const std::string name = LowerText(line.substr(0, line.find(':')));
    auto same = std::find_if(lines.begin(), lines.end(), [&](const std::string& held) {
      return LowerText(held.substr(0, held.find(':'))) == name;
    });
    if (same != lines.end())
      *same = line;
    else
      lines.push_back(line);
  }
  return lines;
}

bool HasHeader(const std::vector<std::string>& lines, const std::string& lowerName) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return LowerText(line.substr(0, line.find(':'))) == lowerName;
  });
}

struct TSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using TSlist = std::unique_ptr<curl_slist, TSlistDeleter>;

}  // namespace

TURLInfo ParseURL(const std::string& url) {
  TURLInfo info;
  std::string rest = url;
  if (StartsWith(rest, "http://")) {
    info.Port = 80;
    rest.erase(0, 7);
  } else if (StartsWith(rest, "https://")) {
    info.Secure = true;
    info.Port = 443;
    rest.erase(0, 8);
  }

  const std::size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);

  std::string hostPart = authority;
  const std::size_t at = authority.find('@');
  if (at != std::string::npos) {
    const std::string userPart = authority.substr(0, at);
    const std::size_t colon = userPart.find(':');
    info.User = userPart.substr(0, colon);
    if (colon != std::string::npos) info.Password = userPart.substr(colon + 1);
    hostPart = authority.substr(at + 1);
  }
  const std::size_t colon = hostPart.find(':');
  info.Host = hostPart.substr(0, colon);
  if (colon != std::string::npos && colon + 1 < hostPart.size())
    info.Port = PlainDecimal(hostPart.substr(colon + 1));

  std::string pathText = rest;
  if (const std::size_t question = rest.find('?'); question != std::string::npos) {
    pathText = rest.substr(0, question);
    const std::string after = rest.substr(question + 1);
    const std::size_t hash = after.find('#');
    info.Query = after.substr(0, hash);
    if (hash != std::string::npos) info.Fragment = after.substr(hash + 1);
  } else if (const std::size_t hash = rest.find('#'); hash != std::string::npos) {
    pathText = rest.substr(0, hash);
    info.Fragment = rest.substr(hash + 1);
  }

  if (pathText.empty()) {
    info.Path = "/";
  } else if (pathText.back() == '/') {
    info.Path = "/" + pathText;
  } else {
    const std::size_t last = pathText.rfind('/');
    info.Path = "/" + (last == std::string::npos ? std::string() : pathText.substr(0, last + 1));
    info.Document = last == std::string::npos ? pathText : pathText.substr(last + 1);
  }
  return info;
}

const char* WebVerbText(std::uint8_t verb) {
  static constexpr const char* kVerbs[] = {"GET", "POST", "HEAD", "PUT", "DELETE", "PATCH"};
  const unsigned code = verb % 128u;
  return code < std::size(kVerbs) ? kVerbs[code] : "GET";
}

// The libcurl side of one Execute: callbacks and the stall watch. No exception may
// leave a callback (libcurl is C): each one is caught here, ends the transfer, and an
// exception other than out-of-memory is thrown again once libcurl has returned.
struct TWebTransfer {
  explicit TWebTransfer(TWebRequest& owner) : request(owner) {}

  TWebRequest& request;
  std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
  curl_off_t lastBytes = 0;
  bool stalled = false;
  bool aborted = false;
  bool tooLarge = false;
  bool outOfMemory = false;
  std::exception_ptr failure;

  // Runs `step`; false when it threw (the transfer is then to be ended).
  template <typename Step>
  bool Guarded(Step&& step) noexcept {
    try {
      step();
      return true;
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    return false;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<TWebTransfer*>(self);
    const bool taken = transfer.Guarded([&] {
      std::string line(data, size * count);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      transfer.request.TakeHeaderLine(line);
    });
    return taken ? size * count : 0;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<TWebTransfer*>(self);
    const std::size_t limit = transfer.request.MaxResponseBytes;
    if (limit > 0 && size * count > limit - std::min(limit, transfer.request.Response.size())) {
      transfer.tooLarge = true;
      return 0;
    }
    const bool taken = transfer.Guarded([&] { transfer.request.TakeBody(data, size * count); });
    return taken ? size * count : 0;
  }

  // libcurl calls this about once a second even while nothing moves.
  static int OnTick(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto& transfer = *static_cast<TWebTransfer*>(self);
    if (transfer.request.AbortFlag && transfer.request.AbortFlag->load()) {
      transfer.aborted = true;
      return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (downloaded + uploaded != transfer.lastBytes) {
      transfer.lastBytes = downloaded + uploaded;
      transfer.lastActivity = now;
      return 0;
    }
    const auto idleMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - transfer.lastActivity).count();
    transfer.stalled = idleMs >= transfer.request.StallTimeoutMs;
    return transfer.stalled ? 1 : 0;
  }
};

TWebRequest::TWebRequest(const std::string& url, const std::string& userAgent)
    : URL(ParseURL(url)), UserAgent(userAgent.empty() ? kDefaultUserAgent : userAgent) {}

TWebRequest::~TWebRequest() = default;

void TWebRequest::SetHeaders(const std::string& headers) {
  Headers = headers.empty() ? std::string() : headers + "\r\n";
}

void TWebRequest::SetContent(const std::string& body, const std::string& contentType) {
  Content = body;
  ContentType = contentType;
}

void TWebRequest::ClearResponse() {
  Response.clear();
  RawHeaders.clear();
  HeaderLines.clear();
  ResponseContentType.clear();
  LastModified.clear();
  EffectiveURL.clear();
  StatusCode = 0;
  ContentLength = 0;
  LastError = 0;
  LastErrorText.clear();
  headersComplete_ = false;
}

void TWebRequest::TakeHeaderLine(const std::string& line) {
  // Every answer (an interim 100, each redirect) starts with its status line; only the
  // last one's headers describe the body.
  if (StartsWith(line, "HTTP/")) {
    RawHeaders.clear();
    HeaderLines.clear();
    ResponseContentType.clear();
    LastModified.clear();
    ContentLength = 0;
    headersComplete_ = false;
  }
  RawHeaders += line;
  RawHeaders += '\0';
  HeaderLines.push_back(line);
  if (line.empty()) {
    // The closing NUL of the block is a piece of its own, as splitting the block gives.
    HeaderLines.emplace_back();
    headersComplete_ = true;
    return;
  }
  const std::size_t separator = line.find(": ");
  if (separator == std::string::npos) return;
  const std::string name = LowerText(line.substr(0, separator));
  const std::string value = line.substr(separator + 2);
  if (name == "last-modified")
    LastModified = value;
  else if (name == "content-type")
    ResponseContentType = value;
  else if (name == "content-length")
    ContentLength = TextToInt(value, 0);
}

std::string TWebRequest::HeaderValue(const std::string& name) const {
  const std::string wanted = LowerText(name);
  std::string value;
  for (const std::string& line : HeaderLines) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && LowerText(line.substr(0, colon)) == wanted)
      value = TrimCharSet(line.substr(colon + 1), " \t");
  }
  return value;
}

void TWebRequest::TakeBody(const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t piece = std::min(size, kChunkBytes);
    Response.append(data, piece);
    data += piece;
    size -= piece;
    if (OnProgress) OnProgress(*this, static_cast<std::int64_t>(Response.size()), ContentLength);
  }
}

bool TWebRequest::Execute() {
  ClearResponse();
  if (UserAgent.empty()) UserAgent = kDefaultUserAgent;

  cloud_detail::TCurlHandle handle = cloud_detail::BorrowCurlHandle();
  if (!handle) return false;
  CURL* curl = handle.get();
  SignalBusy(true);

  const std::uint8_t verb = Verb % 128u;
  std::string objectName = URL.Path + URL.Document;
  if (!URL.Query.empty()) objectName += "?" + URL.Query;
  const bool defaultPort = URL.Port == 0 || URL.Port == (URL.Secure ? 443 : 80);
  const std::string target = std::string(URL.Secure ? "https://" : "http://") + URL.Host +
                             (defaultPort ? std::string() : ":" + std::to_string(URL.Port)) +
                             objectName;

  std::string block = Headers;
  if (!Content.empty() && !ContentType.empty()) block += "Content-Type: " + ContentType + "\r\n";
  std::vector<std::string> lines = HeaderBlockLines(block);
  // libcurl would add a form content type to every body and ask large ones to wait for
  // a "100 Continue"; neither belongs to the request the caller built.
  if (!HasHeader(lines, "content-type")) lines.push_back("Content-Type:");
  if (!HasHeader(lines, "expect")) lines.push_back("Expect:");
  TSlist headerList;
  for (const std::string& line : lines) {
    curl_slist* grown = curl_slist_append(headerList.get(), line.c_str());
    if (!grown) break;
    (void)headerList.release();
    headerList.reset(grown);
  }

  TWebTransfer transfer(*this);
  cloud_detail::TTrustSetup trust;
  curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // What went out over TLS never comes back in clear.
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, URL.Secure ? "https" : "http,https");
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, UserAgent.c_str());
  if (!URL.User.empty()) curl_easy_setopt(curl, CURLOPT_USERNAME, URL.User.c_str());
  if (!URL.Password.empty()) curl_easy_setopt(curl, CURLOPT_PASSWORD, URL.Password.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, FollowRedirects ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  cloud_detail::ApplyTrust(curl, VerifyCertificate, trust);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeoutMs));
  if (DeadlineMs > 0) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(DeadlineMs));
  // An announced length over the cap is refused before any of the body is read.
  if (MaxResponseBytes > 0)
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxResponseBytes));
#if LIBCURL_VERSION_NUM >= 0x075700
  // A name lookup that hangs is left to end on its own rather than waited for when the
  // connect limit or an abort ends the request.
  curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
#endif
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kChunkBytes));
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &TWebTransfer::OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &TWebTransfer::OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TWebTransfer::OnTick);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);

  const bool hasBody = !Content.empty();
  auto sendBody = [&] {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(Content.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, Content.data());
  };
  switch (verb) {
    case wvPOST:
      // Plain POST (no custom verb) so that a 303 turns the follow-up into a GET.
      sendBody();
      break;
    case wvHEAD:
      curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
      break;
    case wvPUT:
    case wvPATCH:
    case wvDELETE:
      if (hasBody || verb != wvDELETE) sendBody();
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, WebVerbText(verb));
      break;
    default:
      if (hasBody) {
        sendBody();
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "GET");
      } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
      }
      break;
  }

  const auto started = std::chrono::steady_clock::now();
  const CURLcode result = curl_easy_perform(curl);
  const auto elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();

  long status = 0;
  if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK)
    StatusCode = static_cast<std::int32_t>(status);
  char* effective = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
    EffectiveURL = effective;
  if (result != CURLE_OK) {
    // The handle keeps the system error of an earlier failed transfer; only a failed
    // connect is sure to have stored a fresh one.
    long osError = 0;
    if (result == CURLE_COULDNT_CONNECT) curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
    if (transfer.aborted) {
      LastError = ECANCELED;
      LastErrorText = "given up";
    } else if (transfer.stalled) {
      LastError = ETIMEDOUT;
      LastErrorText = "no data for " + std::to_string(StallTimeoutMs / 1000) + " s";
    } else if (transfer.outOfMemory) {
      LastError = ENOMEM;
      LastErrorText = "out of memory";
    } else if (transfer.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
      LastError = EFBIG;
      LastErrorText = "answer larger than " + std::to_string(MaxResponseBytes) + " bytes";
    } else if (result == CURLE_OPERATION_TIMEDOUT && DeadlineMs > 0 && elapsedMs + 100 >= DeadlineMs) {
      LastError = ETIMEDOUT;
      LastErrorText = "no complete answer within " + MillisecondsText(DeadlineMs);
    } else if (result == CURLE_PEER_FAILED_VERIFICATION) {
      long verifyResult = 0;
      curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
      LastError = 12000 + static_cast<std::int32_t>(result);
      LastErrorText = cloud_detail::CertificateErrorText(verifyResult);
    } else if (result == CURLE_UNSUPPORTED_PROTOCOL && URL.Secure && StatusCode / 100 == 3 &&
               StartsWith(LowerText(HeaderValue("Location")), "http:")) {
      // The headers held are the redirect's own: it was not followed.
      LastError = 12000 + static_cast<std::int32_t>(result);
      LastErrorText = "redirect from https to http refused";
    } else {
      LastError = osError != 0 ? static_cast<std::int32_t>(osError) : 12000 + static_cast<std::int32_t>(result);
      LastErrorText = curl_easy_strerror(result);
    }
  }
  // Method, address, status and time only: headers and bodies carry keys and tokens.
  Trace::TraceRequest(WebVerbText(verb), target, result == CURLE_OK ? StatusCode : 0, elapsedMs);
  cloud_detail::ReturnCurlHandle(std::move(handle));
  SignalBusy(false);
  if (transfer.failure) std::rethrow_exception(transfer.failure);
  return result == CURLE_OK;
}

std::string WebGetText(const std::string& url, const std::string& userAgent) {
  TWebRequest request(url, userAgent);
  return request.Execute() ? request.Response : std::string();
}

std::vector<std::string> WebTrustProblems() { return cloud_detail::TrustProblems(); }

void SetWebBusyHook(std::function<void(bool busy)> hook) {
  std::lock_guard lock(busyHookMutex);
  busyHook = std::move(hook);
}
