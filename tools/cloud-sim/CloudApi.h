#pragma once
// The cloud's REST endpoints as the simulator plays them: API keys exchanged for tokens,
// and per account the gateway list, registration, deletion, actions and summary.
// Answers are JSON; errors carry {"message": ...} with a fitting status.
//
// Thread: any; the state is under one mutex.

#include "Options.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace cloudsim {

struct ApiAnswer {
    int status = 404;
    std::string body;
};

class CloudApi {
public:
    explicit CloudApi(const Options& options);

    // Answers one request. `target` is the raw request target (path and query).
    ApiAnswer Handle(const std::string& method, const std::string& target, const std::string& authorization,
                     const std::string& body);
    void SetTokenLifetime(int seconds);

private:
    using Members = std::vector<std::pair<std::string, std::string>>;  // name, JSON value
    struct Gateway {
        std::string ownerId;
        std::string status;
        bool online = false;
        std::string registered;  // UTC time of registration
        Members info;
        Members reported;
        Members desired;
    };
    using Clock = std::chrono::steady_clock;
    struct Token {
        std::string ownerId;
        Clock::time_point expiry;
    };

    ApiAnswer IssueToken(const std::string& key);
    // The owner the token was issued to, or an error answer in `refusal`.
    bool Authorise(const std::string& authorization, const std::string& ownerId, ApiAnswer& refusal);
    ApiAnswer Register(const std::string& ownerId, const std::string& body);
    ApiAnswer Remove(const std::string& ownerId, const std::string& body);
    ApiAnswer Action(const std::string& ownerId, const std::string& gatewayId, const std::string& body);
    ApiAnswer Summary(const std::string& ownerId) const;
    ApiAnswer List(const std::string& ownerId) const;
    ApiAnswer One(const std::string& ownerId, const std::string& gatewayId) const;
    std::string Record(const std::string& gatewayId, const Gateway& gateway) const;
    void AddGateway(const std::string& ownerId, const std::string& gatewayId, const std::string& status, bool online);
    // With --state-dir: the gateway's status word into its file, or the file removed.
    void PublishState(const std::string& gatewayId) const;

    std::mutex mutex_;
    std::map<std::string, std::string> owners_;  // key -> owner ID
    std::map<std::string, Token> tokens_;
    std::map<std::string, Gateway> gateways_;    // by gateway ID, one owner each
    int tokenLifetimeSeconds_;
    std::string stateFolder_;
    bool manualApproval_;
};

} // namespace cloudsim
