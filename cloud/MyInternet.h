#pragma once
// One synchronous HTTP or HTTPS request and everything about its answer.
//
// Thread: a TWebRequest is used by one thread at a time; distinct objects may run on
// distinct threads at once (the map's download thread, the version check). Execute
// blocks the calling thread until the whole body has arrived or a time limit struck.
// Connections are kept per thread and reused by the next request to the same host, so
// a series of calls pays for one TLS handshake.
// Failure: Execute returns false for anything that kept an answer from arriving whole;
// an HTTP error status is an answer, not a failure (StatusCode tells it).
// Bounds: every request ends within DeadlineMs and keeps at most MaxResponseBytes of
// body; running out of memory ends the request, it never unwinds through libcurl.
// Trust: the system's certificate store plus the PEM file named by ORVANE_CA_FILE. An
// https request is never redirected to http.
// Proxy: the usual environment variables (https_proxy, http_proxy, all_proxy, no_proxy).

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The parsed form of a URL. Parsing never fails: it splits whatever text it is given.
struct TURLInfo {
  std::string User;
  std::string Password;
  std::string Host;
  std::string Path;      // always begins and ends with "/"
  std::string Document;  // last segment when the path does not end with "/"
  std::string Query;     // after "?", up to "#"
  std::string Fragment;  // after "#"
  std::int32_t Port = 0; // 80 / 443 by scheme, or the explicit port (0 when not a number)
  bool Secure = false;
};

// Splits a URL. Only the exact prefixes "http://" and "https://" are recognised; the
// authority runs up to the first "/", so "?" or "#" before any "/" stay in Host.
TURLInfo ParseURL(const std::string& url);

// Verb codes; taken modulo 128, codes without a verb are sent as GET.
enum TWebVerb : std::uint8_t {
  wvGET = 0,
  wvPOST = 1,
  wvHEAD = 2,
  wvPUT = 3,
  wvDELETE = 4,
  wvPATCH = 5,
};

// Verb text of a code ("GET" for unknown codes).
const char* WebVerbText(std::uint8_t verb);

inline constexpr const char* kDefaultUserAgent = "Qel Web Client 1.01";

class TWebRequest {
public:
  // received: length of Response so far; contentLength: the "content-length" header or 0.
  using TProgressEvent =
      std::function<void(TWebRequest& sender, std::int64_t received, std::int32_t contentLength)>;

  // An empty user agent selects kDefaultUserAgent.
  explicit TWebRequest(const std::string& url, const std::string& userAgent = {});
  ~TWebRequest();
  TWebRequest(const TWebRequest&) = delete;
  TWebRequest& operator=(const TWebRequest&) = delete;

  // Replaces the extra header block by `headers` + CR LF (several lines separated by
  // CR LF allowed); the empty text clears it.
  void SetHeaders(const std::string& headers);
  void SetContent(const std::string& body, const std::string& contentType);

  // Sends the request and reads the answer. True when an answer arrived whole at
  // transport level, whatever its status. False when the request could not be sent or
  // the answer was cut short (dropped connection, stall): LastError/LastErrorText say
  // why; what arrived of the body stays in Response.
  bool Execute();
  void ClearResponse();

  TURLInfo URL;
  std::string EffectiveURL;   // after any redirect
  std::string UserAgent;
  std::uint8_t Verb = wvGET;
  std::string Headers;        // each line ended by CR LF
  std::string Content;        // request body, bytes
  std::string ContentType;    // sent only with a non-empty body
  bool VerifyCertificate = true;
  bool FollowRedirects = true;
  // Time limits in milliseconds. A dead server must never hold the window for long:
  // the connection (TLS handshake included) must stand within ConnectTimeoutMs, and the
  // request is given up when nothing at all arrives for StallTimeoutMs (checked about
  // once a second).
  std::int32_t ConnectTimeoutMs = 15000;
  std::int32_t StallTimeoutMs = 20000;
  // The whole request, however the bytes trickle in (0: no overall limit).
  std::int32_t DeadlineMs = 60000;
  // A larger body ends the request (0: no limit). The default suits API answers.
  std::size_t MaxResponseBytes = 4 * 1024 * 1024;
  // When set, another thread may store true to give the request up; Execute then
  // returns false (LastError ECANCELED) within about a second.
  const std::atomic<bool>* AbortFlag = nullptr;

  std::string Response;
  // Status line and header lines of the final answer, each followed by a NUL; the empty
  // line that ends the header block gives the closing second NUL.
  std::string RawHeaders;
  std::vector<std::string> HeaderLines; // RawHeaders cut at every NUL, empty pieces kept
  // The value of the final answer's header `name` (any letter case), blanks around it
  // trimmed; the last such line when there are several, "" when there is none.
  std::string HeaderValue(const std::string& name) const;
  std::int32_t StatusCode = 0;          // 0 when no status arrived
  std::int32_t ContentLength = 0;
  std::string ResponseContentType;
  std::string LastModified;
  // Why the last Execute failed: the system's error number when the system reported
  // one, else 12000 + the transport library's own code; 0 after success. Certificate
  // failures say their cause in LastErrorText ("certificate expired", ...).
  std::int32_t LastError = 0;
  std::string LastErrorText;
  TProgressEvent OnProgress;

private:
  friend struct TWebTransfer;
  void TakeHeaderLine(const std::string& line);
  void TakeBody(const char* data, std::size_t size);
  bool headersComplete_ = false;
};

// One GET: the body of any answer, or the empty text when none arrived whole.
std::string WebGetText(const std::string& url, const std::string& userAgent = {});

// Called with true before and false after every Execute, on the executing thread. The
// window installs one that shows a busy cursor for requests made on its own thread; the
// hook decides by itself which threads it cares about. Pass an empty function to remove.
void SetWebBusyHook(std::function<void(bool busy)> hook);

// What keeps the trust settings from working as meant: an ORVANE_CA_FILE that is
// missing or holds no readable certificate, a libcurl whose TLS library is not the
// one certificates are handed to. One line each; empty when all is well.
std::vector<std::string> WebTrustProblems();
