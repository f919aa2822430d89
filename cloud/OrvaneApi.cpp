#include "OrvaneApi.h"

#include "MyInternet.h"
#include "MyJSON.h"
#include "support/Clock.h"
#include "support/MyConvert.h"
#include "support/MyFunctions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Renew this long before the cloud's own expiry, so a token never dies in flight.
constexpr int kExpiryMarginSeconds = 15;
constexpr double kSecondsPerDay = 86400.0;

// A value that would end its header line cannot be sent as one.
bool FitsHeaderLine(const std::string& value) { return value.find_first_of("\r\n") == std::string::npos; }

}  // namespace

std::string PercentEncode(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}

std::string JSONEscape(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '"': escaped += "\\\""; break;
      case '\\': escaped += "\\\\"; break;
      case '\n': escaped += "\\n"; break;
      case '\r': escaped += "\\r"; break;
      case '\t': escaped += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char unit[8];
          std::snprintf(unit, sizeof unit, "\\u%04x", static_cast<unsigned char>(c));
          escaped += unit;
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

TOrvaneAPI::TOrvaneAPI() = default;

std::int64_t TokenLifetimeSeconds(const std::string& expiresIn) {
  // JSON numbers may come with a fraction or an exponent; the value is clamped as a
  // double before any conversion, so nothing overflows.
  const std::string text = TrimCharSet(expiresIn, " \t");
  if (text.empty()) return 0;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || std::isnan(seconds) || seconds <= 0) return 0;
  if (seconds >= static_cast<double>(kMaxTokenLifetimeSeconds)) return kMaxTokenLifetimeSeconds;
  return static_cast<std::int64_t>(seconds);
}

void TOrvaneAPI::Reset() {
  DropToken();
  invalid_ = false;
}

void TOrvaneAPI::DropToken() {
  token_.clear();
  tokenExpiry_ = 0;
  tokenRenewAt_ = 0;
}

void TOrvaneAPI::SetServer(const std::string& host) {
  if (host == server_) return;
  Reset();
  server_ = host;
  Log("Cloud URI: " + host);
}

void TOrvaneAPI::SetKey(const std::string& key) {
  if (key == key_) return;
  Reset();
  key_ = key;
  Log("Key was set");
}

bool TOrvaneAPI::IsReady() { return !key_.empty() && !OwnerID.empty() && !invalid_ && !GetToken().empty(); }

std::string TOrvaneAPI::GetToken() {
  if (invalid_) return {};
  if (!token_.empty() && SteadySeconds() < tokenRenewAt_) return token_;
  DropToken();
  if (!FitsHeaderLine(key_)) {
    invalid_ = true;
    return {};
  }
  TWebRequest request("https://" + server_ + "/v1/auth/token/api", kOrvaneApiUserAgent);
  request.Verb = wvPOST;
  request.DeadlineMs = DeadlineMs;
  request.MaxResponseBytes = MaxAnswerBytes;
  request.AbortFlag = AbortFlag;
  request.SetHeaders("Content-type: application/json\r\nAuthorization: " + key_);
  const double asked = SteadySeconds();
  if (!request.Execute()) {
    // The key was never judged: the next call asks again.
    lastError_ = request.LastErrorText.empty() ? std::string("no answer") : request.LastErrorText;
    Log("Token request failed: " + lastError_);
    return {};
  }
  lastError_.clear();
  if (request.StatusCode != 200) {
    invalid_ = true;
    return {};
  }
  const TMyJSON answer(request.Response);
  const std::int64_t lifetime = TokenLifetimeSeconds(answer.Value("expires_in").ToString());
  // Reckoned from when the request went out, as the cloud's clock started then at the latest.
  tokenRenewAt_ = asked + static_cast<double>(lifetime - kExpiryMarginSeconds);
  tokenExpiry_ = Now() + static_cast<double>(lifetime - kExpiryMarginSeconds) / kSecondsPerDay;
  token_ = answer.Value("access_token").ToString();
  Log("Token: " + std::string(token_.empty() ? "INVALID" : "Valid") + ", expires: " + DateTimeText(tokenExpiry_));
  // The token itself is a secret: the verbose line tells only how long it is.
  if (Verbose) Log("Tokeb contents: <" + std::to_string(token_.size()) + " characters, not shown>");
  invalid_ = token_.empty();
  return token_;
}

std::string TOrvaneAPI::OwnerPath() const { return "v1/owner/" + PercentEncode(OwnerID) + "/gateway"; }

std::string TOrvaneAPI::Send(std::uint8_t verb, const std::string& path, const std::string& body) {
  std::int32_t status = 0;
  std::string answer = SendOnce(verb, path, body, status);
  if (status == 401) {
    // The cloud may end a token before its announced time (a restart, a revocation).
    DropToken();
    answer = SendOnce(verb, path, body, status);
  }
  return answer;
}

std::string TOrvaneAPI::SendOnce(std::uint8_t verb, const std::string& path, const std::string& body,
                                 std::int32_t& status) {
  status = 0;
  TWebRequest request("https://" + server_ + "/" + path, kOrvaneApiUserAgent);
  const std::string token = GetToken();
  if (token.empty() || !FitsHeaderLine(token)) return {};
  request.Verb = verb;
  request.DeadlineMs = DeadlineMs;
  request.MaxResponseBytes = MaxAnswerBytes;
  request.AbortFlag = AbortFlag;
  request.SetHeaders("Authorization: " + token);
  request.SetContent(body, "application/json");
  const bool received = request.Execute();
  lastError_ = received ? std::string() : request.LastErrorText.empty() ? std::string("no answer") : request.LastErrorText;
  if (received) status = request.StatusCode;
  std::string answer = received ? request.Response : std::string();
  if (Verbose) {
    Log("----");
    Log("URI: " + request.EffectiveURL);
    Log("Contents: " + body);
    Log("Result: " + answer);
  }
  return answer;
}

std::string TOrvaneAPI::GetGateways(const std::string& gatewayId) {
  return Send(wvGET, OwnerPath() + (gatewayId.empty() ? std::string() : "/" + PercentEncode(gatewayId)), {});
}

std::string TOrvaneAPI::DeleteGateway(const std::string& gatewayId) {
  return Send(wvDELETE, OwnerPath(), "{\"gateways\":[\"" + JSONEscape(gatewayId) + "\"]}");
}

std::string TOrvaneAPI::RegisterGateway(const std::string& gatewayId, bool autoApprove) {
  return Send(wvPUT, OwnerPath(),
              "{\"gateways\":[\"" + JSONEscape(gatewayId) + "\"]" + (autoApprove ? ",\"autoApprove\":true" : "") + "}");
}

std::string TOrvaneAPI::GatewayAction(const std::string& gatewayId, const std::string& action) {
  return Send(wvPOST, OwnerPath() + "/" + PercentEncode(gatewayId) + "/action",
              "{\"action\":\"" + JSONEscape(action) + "\"}");
}

std::string TOrvaneAPI::RequestGatewayInfo(const std::string& gatewayId) { return GatewayAction(gatewayId, "getGwInfo"); }

std::string TOrvaneAPI::GetGatewaySummary() { return Send(wvGET, OwnerPath() + "/summary", {}); }

void TOrvaneAPI::Log(const std::string& message) {
  if (OnLog) OnLog(*this, message);
}
