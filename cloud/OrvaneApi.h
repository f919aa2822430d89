#pragma once
// The client of the Orvane cloud REST API for one account: obtains an access token and
// keeps it until shortly before it expires, builds each request and hands the raw
// answer text back. Apart from the token answer it reads no answer.
//
// Thread: GUI thread (or any one thread); every call is synchronous.
// Failure: by result. An empty answer means nothing was sent or nothing arrived whole;
// an HTTP error status is not reported, its JSON body is the answer. A failed token
// request sets Invalid until Reset (a new key, server or client).
// Secrets: the key and the token never reach the log.

#include <cstdint>
#include <functional>
#include <string>

inline constexpr const char* kOrvaneApiUserAgent = "Qel-Orvane API/1.00";
inline constexpr const char* kOrvaneDefaultApiHost = "api.orvane.cloud";

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
  // The cached token, renewed when the local time reached TokenExpiry (and not Invalid).
  // After a failed renewal: the previous token text, possibly empty.
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
  double TokenExpiry() const { return tokenExpiry_; }
  bool Invalid() const { return invalid_; }

  std::string OwnerID;  // plain assignment; keeps the token
  bool Verbose = false;
  TLogEvent OnLog;

private:
  std::string Send(std::uint8_t verb, const std::string& path, const std::string& body);
  std::string OwnerPath() const;
  void Log(const std::string& message);

  std::string key_;
  std::string server_ = kOrvaneDefaultApiHost;
  std::string token_;
  double tokenExpiry_ = 0;
  bool invalid_ = false;
};

// The text with every byte other than A-Z a-z 0-9 - . _ ~ written as %XX.
std::string PercentEncode(const std::string& text);
// The text made safe inside a JSON string literal (quotes not added).
std::string JSONEscape(const std::string& text);
