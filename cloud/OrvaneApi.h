#pragma once
// The client of the Orvane cloud REST API for one account: obtains an access token and
// keeps it until shortly before it expires, builds each request and hands the raw
// answer text back. Apart from the token answer it reads no answer.
//
// Thread: any one thread at a time (the window's cloud worker); every call is
// synchronous. AbortFlag may be set from another thread.
// Failure: by result. An empty answer means nothing was sent or nothing arrived whole;
// LastErrorText then says why when the network was the cause. An HTTP error status is
// not reported, its JSON body is the answer. A token request the cloud refuses sets
// Invalid until Reset (a new key, server or client); one that fails in transit does not
// and is tried again by the next call. A 401 answer drops the token and the request is
// made once more with a new one.
// Token lifetime: measured on the steady clock, so a step of the wall clock neither
// keeps an expired token nor drops a fresh one.
// Secrets: the key and the token never reach the log.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

inline constexpr const char* kOrvaneApiUserAgent = "Qel-Orvane API/1.00";
inline constexpr const char* kOrvaneDefaultApiHost = "api.orvane.cloud";
// Bounds of one API request: the whole exchange and the answer's size.
inline constexpr std::int32_t kApiDeadlineMs = 60000;
inline constexpr std::size_t kApiMaxAnswerBytes = 4 * 1024 * 1024;
// The longest token lifetime believed; longer, absent or unreadable "expires_in" values
// are brought into [0, this].
inline constexpr std::int64_t kMaxTokenLifetimeSeconds = 86400;

// "expires_in" of a token answer (its text form) as whole seconds within
// [0, kMaxTokenLifetimeSeconds]; not a number gives 0 (the token serves one call).
std::int64_t TokenLifetimeSeconds(const std::string& expiresIn);

class TOrvaneAPI {
public:
  using TLogEvent = std::function<void(TOrvaneAPI& sender, const std::string& message)>;

  TOrvaneAPI();

  // Forgets the token and the Invalid state.
  void Reset();
  // A different host (exact comparison) resets the token, is stored and logged; the
  // same host changes nothing. Host name only, or "host:port".
  void SetServer(const std::string& host);
  // A different key resets the token and is stored; the same key changes nothing.
  void SetKey(const std::string& key);

  // Key and OwnerID set, not Invalid, and a token at hand (may request one).
  bool IsReady();
  // The cached token, renewed when its lifetime has run out (and not Invalid). After a
  // failed renewal: the empty text (an expired token is never handed out).
  std::string GetToken();

  // Endpoints; each answer is the response body, or "" when nothing was sent or the
  // answer did not arrive whole. IDs are percent-encoded in paths and escaped in bodies.
  std::string GetGateways(const std::string& gatewayId);
  std::string DeleteGateway(const std::string& gatewayId);
  std::string RegisterGateway(const std::string& gatewayId, bool autoApprove);
  std::string GatewayAction(const std::string& gatewayId, const std::string& action);
  std::string RequestGatewayInfo(const std::string& gatewayId);
  std::string GetGatewaySummary();

  const std::string& Key() const { return key_; }
  const std::string& Server() const { return server_; }
  const std::string& Token() const { return token_; }
  // The local time the token was reckoned to expire at when it came (for the log).
  double TokenExpiry() const { return tokenExpiry_; }
  bool Invalid() const { return invalid_; }
  // Why the last call got no answer at transport level ("" when it got one, or when
  // nothing was sent); for a failed token request too.
  const std::string& LastErrorText() const { return lastError_; }

  std::string OwnerID;  // plain assignment; keeps the token
  bool Verbose = false;
  TLogEvent OnLog;
  std::int32_t DeadlineMs = kApiDeadlineMs;
  std::size_t MaxAnswerBytes = kApiMaxAnswerBytes;
  // When set, storing true gives the running request up (any thread).
  const std::atomic<bool>* AbortFlag = nullptr;

private:
  std::string Send(std::uint8_t verb, const std::string& path, const std::string& body);
  std::string SendOnce(std::uint8_t verb, const std::string& path, const std::string& body, std::int32_t& status);
  void DropToken();
  std::string OwnerPath() const;
  void Log(const std::string& message);

  std::string key_;
  std::string server_ = kOrvaneDefaultApiHost;
  std::string token_;
  double tokenExpiry_ = 0;
  double tokenRenewAt_ = 0;  // SteadySeconds() from which on the token is renewed
  bool invalid_ = false;
  std::string lastError_;
};

// The text with every byte other than A-Z a-z 0-9 - . _ ~ written as %XX.
std::string PercentEncode(const std::string& text);
// The text made safe inside a JSON string literal (quotes not added).
std::string JSONEscape(const std::string& text);
