#include "CloudApi.h"

#include "JsonText.h"
#include "UrlText.h"
#include "cloud/MyCrypt.h"
#include "cloud/MyJSON.h"
#include "support/MyConvert.h"

#include <cstdio>
#include <ctime>

namespace cloudsim {

namespace {

// The path cut at "/" and each segment percent-decoded, so an encoded "/" stays inside
// its segment.
std::vector<std::string> PathSegments(const std::string& target) {
    const std::string path = target.substr(0, target.find('?'));
    std::vector<std::string> segments;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        segments.push_back(PercentDecode(path.substr(start, slash - start)));
        start = slash + 1;
    }
    return segments;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// The cloud's form of a gateway ID: "QEL" and fifteen more characters.
bool IsGatewayId(const std::string& id) { return id.size() == 18 && id.rfind("QEL", 0) == 0; }

ApiAnswer Error(int status, const std::string& message) { return {status, JsonMessage(message)}; }
ApiAnswer Done() { return {200, JsonObject({{"data", JsonString("OK")}})}; }

// The IDs of {"gateways":[...]}; false when the body has no such list.
bool GatewayList(const TMyJSON& body, std::vector<std::string>& ids) {
    const TMyJSON list(body.RawValue("gateways"));
    if (body.Kind != jkObject || list.Kind != jkArray || list.Count() == 0) return false;
    for (int i = 0; i < list.Count(); ++i) ids.push_back(list.Value(i).ToString());
    return true;
}

} // namespace

CloudApi::CloudApi(const Options& options)
    : tokenLifetimeSeconds_(options.tokenLifetimeSeconds),
      stateFolder_(options.stateFolder),
      manualApproval_(options.manualApproval) {
    for (const AccountOption& account : options.accounts) owners_[account.key] = account.ownerId;
    for (const GatewayOption& gateway : options.gateways)
        AddGateway(gateway.ownerId, gateway.gatewayId, gateway.status, gateway.online);
}

void CloudApi::SetTokenLifetime(int seconds) {
    std::lock_guard lock(mutex_);
    tokenLifetimeSeconds_ = seconds;
}

void CloudApi::AddGateway(const std::string& ownerId, const std::string& gatewayId, const std::string& status,
                          bool online) {
    Gateway gateway;
    gateway.ownerId = ownerId;
    gateway.status = status;
    gateway.online = online;
    gateway.registered = UtcNow();
    // A freshly installed gateway: its reported configuration differs from the desired
    // one in one parameter, as after a change made in the cloud that it has not applied yet.
    gateway.info = {{"hardware", JsonString("QGW-4 rev C")},
                    {"firmware", JsonString("2.7.1")},
                    {"modem", JsonString("LTE-M/NB-IoT")},
                    {"bridgesHeard", "0"}};
    gateway.reported = {{"apn", JsonString("internet")}, {"logInterval", "60"}, {"wifiSsid", JsonString("")}};
    gateway.desired = {{"apn", JsonString("internet")}, {"logInterval", "30"}};
    gateways_[gatewayId] = std::move(gateway);
    PublishState(gatewayId);
}

void CloudApi::PublishState(const std::string& gatewayId) const {
    if (stateFolder_.empty()) return;
    const std::string path = stateFolder_ + "/" + gatewayId;
    const auto held = gateways_.find(gatewayId);
    if (held == gateways_.end()) {
        std::remove(path.c_str());
        return;
    }
    // Whole or not at all: the gateway simulator reads it at any moment.
    const std::string temporary = path + ".tmp";
    if (std::FILE* file = std::fopen(temporary.c_str(), "wb")) {
        const std::string& status = held->second.status;
        const bool written = std::fwrite(status.data(), 1, status.size(), file) == status.size();
        if (std::fclose(file) == 0 && written) std::rename(temporary.c_str(), path.c_str());
    }
}

ApiAnswer CloudApi::Handle(const std::string& method, const std::string& target, const std::string& authorization,
                           const std::string& body) {
    const std::vector<std::string> path = PathSegments(target);
    if (path == std::vector<std::string>{"v1", "auth", "token", "api"}) {
        if (method != "POST") return Error(405, "Method not allowed");
        return IssueToken(authorization);
    }
    if (path.size() < 4 || path[0] != "v1" || path[1] != "owner" || path[3] != "gateway")
        return Error(404, "Not found");
    const std::string& ownerId = path[2];
    std::lock_guard lock(mutex_);
    ApiAnswer refusal;
    if (!Authorise(authorization, ownerId, refusal)) return refusal;
    if (path.size() == 4) {
        if (method == "GET") return List(ownerId);
        if (method == "PUT") return Register(ownerId, body);
        if (method == "DELETE") return Remove(ownerId, body);
        return Error(405, "Method not allowed");
    }
    if (path.size() == 5 && path[4] == "summary" && method == "GET") return Summary(ownerId);
    if (path.size() == 5 && method == "GET") return One(ownerId, path[4]);
    if (path.size() == 6 && path[5] == "action" && method == "POST") return Action(ownerId, path[4], body);
    return Error(404, "Not found");
}

ApiAnswer CloudApi::IssueToken(const std::string& key) {
    std::lock_guard lock(mutex_);
    const auto owner = owners_.find(key);
    if (key.empty() || owner == owners_.end()) return Error(401, "Invalid API key");
    // Tokens nobody can use any more go, so a long training day does not pile them up.
    std::erase_if(tokens_, [now = Clock::now()](const auto& held) { return held.second.expiry <= now; });
    const std::string token = BytesToHex(RandomBytes(24), false);
    tokens_[token] = {owner->second, Clock::now() + std::chrono::seconds(tokenLifetimeSeconds_)};
    return {200, JsonObject({{"access_token", JsonString(token)},
                             {"token_type", JsonString("Bearer")},
                             {"expires_in", std::to_string(tokenLifetimeSeconds_)}})};
}

bool CloudApi::Authorise(const std::string& authorization, const std::string& ownerId, ApiAnswer& refusal) {
    if (authorization.empty()) {
        refusal = Error(401, "Missing access token");
        return false;
    }
    const auto token = tokens_.find(authorization);
    if (token == tokens_.end()) {
        refusal = Error(401, "Invalid access token");
        return false;
    }
    if (Clock::now() >= token->second.expiry) {
        tokens_.erase(token);
        refusal = Error(401, "Access token expired");
        return false;
    }
    if (token->second.ownerId != ownerId) {
        refusal = Error(403, "Access token not valid for owner " + ownerId);
        return false;
    }
    return true;
}

ApiAnswer CloudApi::Register(const std::string& ownerId, const std::string& body) {
    const TMyJSON request(body);
    std::vector<std::string> ids;
    if (!GatewayList(request, ids)) return Error(400, "Malformed request body");
    const bool autoApprove = request.Value("autoApprove").ToBool() && !manualApproval_;
    for (const std::string& id : ids) {
        if (!IsGatewayId(id)) return Error(400, "Invalid gateway ID " + id);
        const auto held = gateways_.find(id);
        if (held != gateways_.end() && held->second.ownerId != ownerId)
            return Error(409, "Gateway " + id + " is registered to another account");
    }
    for (const std::string& id : ids) {
        const auto held = gateways_.find(id);
        if (held == gateways_.end())
            AddGateway(ownerId, id, autoApprove ? "approved" : "reg. pending", false);
        else if (autoApprove)
            held->second.status = "approved";
        PublishState(id);
    }
    return Done();
}

ApiAnswer CloudApi::Remove(const std::string& ownerId, const std::string& body) {
    std::vector<std::string> ids;
    if (!GatewayList(TMyJSON(body), ids)) return Error(400, "Malformed request body");
    for (const std::string& id : ids) {
        const auto held = gateways_.find(id);
        if (held == gateways_.end() || held->second.ownerId != ownerId) return Error(404, "Gateway " + id + " not found");
    }
    for (const std::string& id : ids) {
        gateways_.erase(id);
        PublishState(id);
    }
    return Done();
}

ApiAnswer CloudApi::Action(const std::string& ownerId, const std::string& gatewayId, const std::string& body) {
    const auto held = gateways_.find(gatewayId);
    if (held == gateways_.end() || held->second.ownerId != ownerId)
        return Error(404, "Gateway " + gatewayId + " not found");
    const std::string action = JSONGetText(body, "action");
    if (action != "getGwInfo" && action != "!oscar") return Error(400, "Unknown action " + action);
    // The gateway reports again: its information carries the time of the request.
    Members& info = held->second.info;
    const std::string name = action == "getGwInfo" ? "infoRequested" : "lastOscar";
    std::erase_if(info, [&](const auto& member) { return member.first == name; });
    info.emplace_back(name, JsonString(UtcNow()));
    return Done();
}

std::string CloudApi::Record(const std::string& gatewayId, const Gateway& gateway) const {
    return JsonObject({{"gatewayId", JsonString(gatewayId)},
                       {"status", JsonString(gateway.status)},
                       {"online", gateway.online ? "1" : "0"},
                       {"registered", JsonString(gateway.registered)},
                       {"gatewayInfo", JsonObject(gateway.info)},
                       {"reportedConf", JsonObject({{"additional", JsonObject(gateway.reported)}})},
                       {"desiredConf", JsonObject({{"additional", JsonObject(gateway.desired)}})}});
}

ApiAnswer CloudApi::List(const std::string& ownerId) const {
    std::string list = "[";
    for (const auto& [id, gateway] : gateways_)
        if (gateway.ownerId == ownerId) list += (list.size() > 1 ? "," : "") + Record(id, gateway);
    return {200, JsonObject({{"data", list + "]"}})};
}

ApiAnswer CloudApi::One(const std::string& ownerId, const std::string& gatewayId) const {
    const auto held = gateways_.find(gatewayId);
    if (held == gateways_.end() || held->second.ownerId != ownerId)
        return Error(404, "Gateway " + gatewayId + " not found");
    return {200, JsonObject({{"data", Record(gatewayId, held->second)}})};
}

ApiAnswer CloudApi::Summary(const std::string& ownerId) const {
    int total = 0, online = 0, approved = 0, pending = 0;
    for (const auto& [id, gateway] : gateways_) {
        if (gateway.ownerId != ownerId) continue;
        ++total;
        online += gateway.online ? 1 : 0;
        approved += gateway.status == "approved" ? 1 : 0;
        pending += gateway.status == "reg. pending" ? 1 : 0;
    }
    return {200, JsonObject({{"data", JsonObject({{"total", std::to_string(total)},
                                                  {"online", std::to_string(online)},
                                                  {"approved", std::to_string(approved)},
                                                  {"pending", std::to_string(pending)}})}})};
}

} // namespace cloudsim
