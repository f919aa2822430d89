#include "GatewayModel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace gwsim {

namespace {

constexpr Millis kNever = std::numeric_limits<Millis>::max();
constexpr Millis kAttachMs = 2000;       // cellular registration after power-up or SIM unlock
constexpr Millis kFirstConnectMs = 3000; // cloud connection attempt after power-up
constexpr Millis kConnectingMs = 1500;   // handshake with the cloud server
constexpr Millis kCellPeriodMs = 5000;
constexpr Millis kStatePeriodMs = 10000;
constexpr Millis kGnssPeriodMs = 1000;

enum EventKind { kRebootDone, kAttached, kTryConnect, kConnected };

// Network the simulated SIM registers on: a home network, 4G.
constexpr const char* kNetworkCode = "26806";
constexpr const char* kOperator = "QelNet";

bool ParseNumber(const std::string& text, long long low, long long high, long long& out) {
    if (text.empty() || text.size() > 9) return false;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return false;
    out = value;
    return true;
}

std::string Format(const char* format, double a, double b) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

std::string Coordinate(double degrees, char positive, char negative) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.5f%c", std::fabs(degrees), degrees < 0 ? negative : positive);
    return buffer;
}

std::string UtcStamp() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d %02d/%02d/%04d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
    return buffer;
}

} // namespace

GatewayModel::GatewayModel(GatewayConfig config, LineSink sink, Millis now)
    : config_(std::move(config)),
      sink_(std::move(sink)),
      rng_(config_.seed ^ 0x9E3779B9u),
      bridges_(config_.bridges, config_.seed),
      simCard_(config_.simCard) {
    ResetParameters(now);
    Boot(now);
}

void GatewayModel::ResetParameters(Millis now) {
    parameters_ = {
        {1, "100245"},                // owner account
        {12, "aws-prod-cloud"},       // cloud server
        {61, ""},                     // SIM PIN
        {64, "8935106012345678901"},  // ICCID
        {97, "internet"},             // APN
        {5640, ""},                   // WiFi network
        {5641, ""},                   // WiFi password
    };
    for (const auto& [number, value] : config_.factoryOverrides) parameters_[number] = value;
    DropConnection(now);
    After(now + 500, kTryConnect);
}

void GatewayModel::Boot(Millis now) {
    bootAt_ = now;
    events_.clear();
    cell_.Stop();
    io_.Stop();
    state_.Stop();
    gnss_.Stop();
    bridges_.SetMonitoring(false, now);
    link_ = CloudLink::Down;
    // A locked SIM is opened with the stored PIN at power-up, as the firmware does.
    simUnlocked_ = parameters_[61] == config_.simPin;
    attachAt_ = now + kAttachMs;
    After(attachAt_, kAttached);
    After(now + kFirstConnectMs, kTryConnect);
    lastState_ = CloudStateText();
}

void GatewayModel::PowerCycle(Millis now) {
    rebootUntil_ = now + config_.rebootMs;
    Boot(now);
    After(rebootUntil_, kRebootDone);
}

void GatewayModel::After(Millis due, int what) { events_.push_back({due, what}); }

void GatewayModel::Acknowledge(bool ok, const std::string& command) {
    if (acknowledging_) Emit(std::string(ok ? "OK " : "ERROR ") + command);
}

void GatewayModel::HandleLine(const std::string& line, Millis now) {
    // A restarting gateway does not listen; the monitor's retransmission covers it.
    if (IsRebooting(now) || line.empty()) return;
    const auto space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (word.size() < 2 || word[0] != '%') {
        Acknowledge(false, "syntax");
        return;
    }
    const std::string name = word.substr(1);

    if (name == "info") {
        Acknowledge(true, name);
        SendInfo();
    } else if (name == "show_off") {
        Acknowledge(true, name);
        cell_.Stop();
        io_.Stop();
        state_.Stop();
        gnss_.Stop();
        bridges_.SetMonitoring(false, now);
    } else if (name == "show_cell") {
        Acknowledge(SetShowFlag(cell_, argument, now, kCellPeriodMs), name);
    } else if (name == "show_state") {
        Acknowledge(SetShowFlag(state_, argument, now, kStatePeriodMs), name);
    } else if (name == "show_gnss") {
        Acknowledge(SetShowFlag(gnss_, argument, now, kGnssPeriodMs), name);
    } else if (name == "show_io") {
        long long seconds = 0;
        const bool ok = ParseNumber(argument, 0, 3600, seconds);
        if (ok && seconds == 0) io_.Stop();
        if (ok && seconds > 0) io_.Start(now, seconds * 1000);
        Acknowledge(ok, name);
    } else if (name == "show_brg") {
        const bool ok = argument == "0" || argument == "1";
        if (ok) bridges_.SetMonitoring(argument == "1", now);
        Acknowledge(ok, name);
    } else if (name == "par_get") {
        long long number = 0;
        const bool ok = ParseNumber(argument, 0, 65535, number) && parameters_.count(static_cast<int>(number));
        Acknowledge(ok, name);
        if (ok && !config_.unanswered.count(static_cast<int>(number))) {
            const int n = static_cast<int>(number);
            // The SIM PIN is write-only: the gateway tells whether one is set, never which.
            const std::string value = n == 61 ? std::string(parameters_[n].empty() ? "" : "****") : parameters_[n];
            Emit(":get " + std::to_string(n) + " " + value);
        }
    } else if (name == "par_set") {
        const auto gap = argument.find(' ');
        long long number = 0;
        bool ok = ParseNumber(argument.substr(0, gap), 0, 65535, number);
        const std::string value = gap == std::string::npos ? std::string() : argument.substr(gap + 1);
        ok = ok && ApplyParameter(static_cast<int>(number), value, now);
        Acknowledge(ok, name);
    } else if (name == "pkt_tx") {
        Acknowledge(!argument.empty() && bridges_.Downlink(argument, now), name);
    } else if (name == "default") {
        Acknowledge(true, name);
        ResetParameters(now);
    } else if (name == "reboot") {
        Acknowledge(true, name);
        PowerCycle(now);
    } else if (name == "connect") {
        Acknowledge(true, name);
        DropConnection(now);
        TryConnect(now);
    } else {
        Acknowledge(false, name);
    }
}

bool GatewayModel::SetShowFlag(Stream& stream, const std::string& argument, Millis now, Millis period) {
    if (argument == "1") {
        stream.Start(now, period);
        return true;
    }
    if (argument == "0") {
        stream.Stop();
        return true;
    }
    return false;
}

bool GatewayModel::ApplyParameter(int number, const std::string& value, Millis now) {
    if (number == 64) return false; // read from the SIM card
    SetParameter(number, value, now);
    return true;
}

void GatewayModel::SetParameter(int number, const std::string& value, Millis now) {
    parameters_[number] = value;
    switch (number) {
    case 1:
    case 12:
        // New owner or server: the gateway drops its session and logs in again.
        DropConnection(now);
        After(now + 500, kTryConnect);
        break;
    case 61:
        if (simCard_ == SimCard::Locked && !simUnlocked_ && value == config_.simPin) {
            simUnlocked_ = true;
            attachAt_ = now + kAttachMs;
            After(attachAt_, kAttached);
            if (cell_.on) Emit(":sim 1");
        }
        break;
    case 5640:
    case 5641:
        if (!HasBearer(now)) DropConnection(now);
        else After(now + 500, kTryConnect);
        if (cell_.on) cell_.next = now;
        break;
    default:
        break;
    }
}

void GatewayModel::SetSimCard(SimCard card, Millis now) {
    simCard_ = card;
    simUnlocked_ = parameters_[61] == config_.simPin;
    attachAt_ = now + kAttachMs;
    if (card == SimCard::Ready) After(attachAt_, kAttached);
    if (!HasBearer(now)) DropConnection(now);
    if (cell_.on) cell_.next = now;
}

void GatewayModel::FollowCloud(std::string status, Millis) {
    followCloud_ = true;
    cloudStatus_ = std::move(status);
    CloudStateMaybeChanged();
}

void GatewayModel::PinCloudState(std::string text, Millis) {
    pinnedState_ = std::move(text);
    CloudStateMaybeChanged();
}

bool GatewayModel::WifiConfigured() const {
    const auto it = parameters_.find(5640);
    return it != parameters_.end() && !it->second.empty();
}

bool GatewayModel::WifiConnected() const {
    // WPA needs at least eight characters; a shorter password never connects.
    const auto it = parameters_.find(5641);
    return WifiConfigured() && it != parameters_.end() && it->second.size() >= 8;
}

bool GatewayModel::HasBearer(Millis now) const {
    if (WifiConnected()) return true;
    const bool simUsable = simCard_ == SimCard::Ready || (simCard_ == SimCard::Locked && simUnlocked_);
    return simUsable && now >= attachAt_;
}

void GatewayModel::TryConnect(Millis now) {
    if (link_ != CloudLink::Down) return;
    if (parameters_[1].empty() || parameters_[12].empty() || !HasBearer(now)) {
        CloudStateMaybeChanged();
        return;
    }
    link_ = CloudLink::Connecting;
    After(now + kConnectingMs, kConnected);
    CloudStateMaybeChanged();
}

void GatewayModel::DropConnection(Millis) {
    link_ = CloudLink::Down;
    CloudStateMaybeChanged();
}

std::string GatewayModel::CloudStateText() const {
    if (!pinnedState_.empty()) return pinnedState_;
    if (followCloud_) {
        if (cloudStatus_.empty()) return "not registered,Offline";
        if (cloudStatus_ != "approved") return cloudStatus_ + ",Offline";
        return link_ == CloudLink::Up ? "connected,Online" : "approved,Offline";
    }
    const auto owner = parameters_.find(1);
    if (owner == parameters_.end() || owner->second.empty()) return "not registered,Offline";
    switch (link_) {
    case CloudLink::Down: return "registered,Offline";
    case CloudLink::Connecting: return "approved,Offline";
    case CloudLink::Up: return "connected,Online";
    }
    return "";
}

void GatewayModel::CloudStateMaybeChanged() {
    const std::string text = CloudStateText();
    if (text == lastState_) return;
    lastState_ = text;
    if (state_.on) state_.next = std::min(state_.next, Millis{0});
}

void GatewayModel::RunEvent(int what, Millis now) {
    switch (what) {
    case kRebootDone: Emit(":boot " + config_.gatewayId + "," + config_.firmware); break;
    case kAttached:
        if (cell_.on) cell_.next = now;
        TryConnect(now);
        break;
    case kTryConnect: TryConnect(now); break;
    case kConnected:
        if (link_ != CloudLink::Connecting) break;
        link_ = (!parameters_[1].empty() && !parameters_[12].empty() && HasBearer(now)) ? CloudLink::Up : CloudLink::Down;
        CloudStateMaybeChanged();
        break;
    default: break;
    }
}

void GatewayModel::Advance(Millis now) {
    // Events may plan further events; take the due ones out first, in time order.
    for (;;) {
        auto due = std::min_element(events_.begin(), events_.end(),
                                    [](const Event& a, const Event& b) { return a.due < b.due; });
        if (due == events_.end() || due->due > now) break;
        const int what = due->what;
        events_.erase(due);
        RunEvent(what, now);
    }
    if (IsRebooting(now)) return;

    auto tick = [now](Stream& stream) {
        if (!stream.on || stream.next > now) return false;
        stream.next = now + stream.periodMs;
        return true;
    };
    if (tick(state_)) SendState();
    if (tick(cell_)) SendCell(now);
    if (tick(io_)) SendIO();
    if (tick(gnss_)) SendGnss(now);
    bridges_.Advance(now, sink_);
}

Millis GatewayModel::NextDue() const {
    Millis due = bridges_.NextDue();
    for (const Event& e : events_) due = std::min(due, e.due);
    for (const Stream* s : {&cell_, &io_, &state_, &gnss_})
        if (s->on) due = std::min(due, s->next);
    return due;
}

void GatewayModel::SendInfo() {
    Emit(":info " + config_.gatewayId + "," + parameters_[64] + "," + config_.hardware + "," + config_.firmware + "," +
         parameters_[1] + "," + parameters_[12]);
}

void GatewayModel::SendIO() {
    std::uniform_real_distribution<double> wobble(-0.04, 0.04);
    // Alternator charging with the ignition on, resting battery voltage with it off.
    const double target = ignition_ ? 14.05 : 12.45;
    supplyVolts_ = std::clamp(supplyVolts_ + (target - supplyVolts_) * 0.5 + wobble(rng_), target - 0.2, target + 0.2);
    const double battery = 4.12 + wobble(rng_) / 2;
    Emit(":io " + Format("%.2fV %.2fV", supplyVolts_, battery) + (ignition_ ? " 1" : " 0"));
}

void GatewayModel::SendCell(Millis now) {
    if (WifiConfigured()) {
        Emit(std::string(":wifi ") + (WifiConnected() ? "1" : "0") + " \"" + parameters_[5640] + "\"");
        return;
    }
    if (simCard_ == SimCard::Absent) {
        Emit(":cell 0 255 0 0 \"\"");
        return;
    }
    if (simCard_ == SimCard::Locked && !simUnlocked_) {
        Emit(":sim 2");
        return;
    }
    if (now < attachAt_) {
        Emit(":cell 0 0 0 0 \"\""); // not registered yet: "Searching for network..."
        return;
    }
    std::uniform_int_distribution<int> drift(-3, 3);
    signal_ = std::clamp(signal_ + drift(rng_), 55, 100);
    Emit(std::string(":cell ") + kNetworkCode + " 1 4 " + std::to_string(signal_) + " \"" + kOperator + "\"");
}

void GatewayModel::SendState() { Emit(":state " + CloudStateText()); }

void GatewayModel::SendGnss(Millis now) {
    const Millis sinceBoot = now - bootAt_;
    // A receiver after power-up first knows nothing at all (every field empty),
    // then the time without a fix, then its position.
    if (sinceBoot < config_.gnssFixMs / 4) {
        Emit(":gnss , , , ");
        return;
    }
    if (sinceBoot < config_.gnssFixMs) {
        Emit(":gnss " + UtcStamp() + ", 0.00000N, 0.00000E, 0 99.9 no fix");
        return;
    }
    // A slow loop of 180 m radius, once round in 15 minutes (a vehicle creeping round a
    // yard), plus a little receiver noise.
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kMetresPerDegree = 111320.0;
    std::uniform_real_distribution<double> noise(-1.5, 1.5);
    std::uniform_int_distribution<int> satellites(7, 12);
    const double angle = 2 * kPi * static_cast<double>(sinceBoot) / 900000.0;
    const double north = 180.0 * std::sin(angle) + noise(rng_);
    const double east = 180.0 * std::cos(angle) + noise(rng_);
    const double latitude = config_.latitude + north / kMetresPerDegree;
    const double longitude =
        config_.longitude + east / (kMetresPerDegree * std::cos(config_.latitude * kPi / 180.0));
    Emit(":gnss " + UtcStamp() + ", " + Coordinate(latitude, 'N', 'S') + ", " + Coordinate(longitude, 'E', 'W') + ", " +
         std::to_string(satellites(rng_)) + " 0.9 valid");
}

} // namespace gwsim
