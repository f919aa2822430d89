#include "BridgeField.h"

#include <algorithm>
#include <limits>

namespace gwsim {

namespace {

constexpr Millis kNever = std::numeric_limits<Millis>::max();

// Uplink frame types and the sub-types of type 7 that the monitor reads.
constexpr std::uint8_t kTypeLegacy = 2; // type 2 with API 7 is the information frame
constexpr std::uint8_t kTypeEvent = 5;  // forwarded like any frame, stored by nobody
constexpr std::uint8_t kTypeStatus = 7;
constexpr std::uint8_t kSubStatus = 1;
constexpr std::uint8_t kSubBlinkDone = 2;
constexpr std::uint8_t kSubSignalCheck = 8;

constexpr std::size_t kPayloadSize = 27;
constexpr std::array<std::uint8_t, 8> kDownlinkHeader{0x1E, 0x16, 0xAF, 0xFD, 0x00, 0x00, 0xED, 0x07};
constexpr std::array<std::uint8_t, 4> kAdvertisingHeader{0x1E, 0x16, 0xAF, 0xFD};
constexpr std::array<std::uint8_t, 4> kBoardTypes{0x01, 0x02, 0x03, 0x05};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool FromHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
    if (text.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

std::vector<std::uint8_t> PayloadHead(std::uint8_t type, const BridgeField::Bridge& bridge) {
    std::vector<std::uint8_t> p(kPayloadSize, 0);
    p[0] = 0x00;
    p[1] = 0x00;
    p[2] = 0xEE;
    p[3] = type;
    p[4] = bridge.api;
    p[5] = bridge.sequence;
    return p;
}

void PutId(std::vector<std::uint8_t>& p, std::size_t at, const std::array<std::uint8_t, 6>& id) {
    std::copy(id.begin(), id.end(), p.begin() + static_cast<std::ptrdiff_t>(at));
}

} // namespace

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

BridgeField::BridgeField(const BridgeConfig& config, std::uint32_t seed) : config_(config), rng_(seed) {
    config_.count = std::clamp(config_.count, 0, 64);
    config_.intervalMs = std::max<Millis>(config_.intervalMs, 50);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < config_.count; ++i) {
        Bridge b;
        // Most bridges speak API 7 and announce their firmware; every fifth is an older
        // unit that never sends an information frame.
        b.api = (i % 5 == 3) ? 6 : 7;
        do {
            b.id[0] = kBoardTypes[static_cast<std::size_t>(byte(rng_)) % kBoardTypes.size()];
            for (std::size_t k = 1; k < b.id.size(); ++k) b.id[k] = static_cast<std::uint8_t>(byte(rng_));
        } while (std::any_of(bridges_.begin(), bridges_.end(), [&](const Bridge& o) { return o.id == b.id; }));
        for (auto& h : b.configHash) h = static_cast<std::uint8_t>(byte(rng_));
        b.version = {static_cast<std::uint8_t>(3 + byte(rng_) % 2), static_cast<std::uint8_t>(byte(rng_) % 21),
                     static_cast<std::uint8_t>(byte(rng_) % 10)};
        b.advertisingHeader = (i % 2 == 1);
        b.signal = 50 + byte(rng_) % 40;
        b.sequence = static_cast<std::uint8_t>(byte(rng_));
        bridges_.push_back(b);
    }
}

void BridgeField::SetMonitoring(bool on, Millis now) {
    monitoring_ = on;
    pending_.clear();
    if (!on) return;
    // Staggered over the first half interval so the list fills quickly but not all at once.
    const Millis step = bridges_.empty() ? 0 : config_.intervalMs / (2 * static_cast<Millis>(bridges_.size()));
    for (std::size_t i = 0; i < bridges_.size(); ++i) bridges_[i].nextReport = now + 100 + static_cast<Millis>(i) * step;
}

Millis BridgeField::Jittered(Millis base) {
    std::uniform_int_distribution<Millis> spread(base * 3 / 4, base * 5 / 4);
    return spread(rng_);
}

std::vector<std::uint8_t> BridgeField::NextPayload(Bridge& b) {
    std::uniform_int_distribution<int> byte(0, 255);
    const int n = b.reportCount++;
    ++b.sequence;

    // An API 7 bridge announces itself with its first frame and then every fifth one.
    if (b.api == 7 && n % 5 == 0) {
        auto p = PayloadHead(kTypeLegacy, b);
        // Offsets 6..11 of an information frame carry the configuration hash, not the ID.
        PutId(p, 6, b.configHash);
        PutId(p, 12, b.id);
        p[18] = b.version[0];
        p[19] = b.version[1];
        p[20] = b.version[2];
        p[21] = 0x0B;                                             // hardware revision
        for (std::size_t k = 22; k < 26; ++k) p[k] = static_cast<std::uint8_t>(byte(rng_)); // uptime
        p[26] = static_cast<std::uint8_t>(80 + byte(rng_) % 20); // battery percent
        return p;
    }
    if (n % 9 == 8) {
        auto p = PayloadHead(kTypeEvent, b);
        PutId(p, 6, b.id);
        for (std::size_t k = 12; k < kPayloadSize; ++k) p[k] = static_cast<std::uint8_t>(byte(rng_));
        return p;
    }
    auto p = PayloadHead(b.api == 7 ? kTypeStatus : kTypeLegacy, b);
    PutId(p, 6, b.id);
    p[12] = kSubStatus;
    p[13] = static_cast<std::uint8_t>(80 + byte(rng_) % 20);     // battery percent
    const int tenthsC = 180 + byte(rng_) % 80;                  // 18.0 .. 25.9 degrees
    p[14] = static_cast<std::uint8_t>(tenthsC & 0xFF);
    p[15] = static_cast<std::uint8_t>(tenthsC >> 8);
    for (std::size_t k = 16; k < 26; ++k) p[k] = static_cast<std::uint8_t>(byte(rng_));
    // Transmit power setting; deliberately non-zero so a reader that takes this byte as a
    // signal-check level outside a signal-check answer shows a visible fault.
    p[26] = 0x2C;
    return p;
}

std::vector<std::uint8_t> BridgeField::AnswerPayload(Bridge& b, Answer answer) {
    std::uniform_int_distribution<int> noise(-6, 6);
    ++b.sequence;
    auto p = PayloadHead(kTypeStatus, b);
    PutId(p, 6, b.id);
    if (answer == Answer::BlinkDone) {
        p[12] = kSubBlinkDone;
        p[13] = 0x01; // blinked
        p[26] = 0x33;
    } else {
        p[12] = kSubSignalCheck;
        p[13] = 'T';
        p[14] = 'E';
        p[15] = 'S';
        p[16] = 'T';
        p[17] = 0x04; // transmit power used for the answer
        // The bridge measures the gateway's downlink about as well as the gateway hears it.
        p[26] = static_cast<std::uint8_t>(std::clamp(b.signal + noise(rng_), 30, 110));
    }
    return p;
}

std::string BridgeField::ReportLine(Bridge& b, const std::vector<std::uint8_t>& payload) const {
    std::vector<std::uint8_t> frame;
    frame.reserve(kAdvertisingHeader.size() + payload.size());
    if (b.advertisingHeader)
        for (std::uint8_t byte : kAdvertisingHeader) frame.push_back(byte);
    for (std::uint8_t byte : payload) frame.push_back(byte);
    std::string address;
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t k = 0; k < b.id.size(); ++k) {
        if (k) address += ':';
        address += digits[b.id[k] >> 4];
        address += digits[b.id[k] & 0x0F];
    }
    return ":brg2gw " + address + " " + ToHex(frame) + " " + std::to_string(b.signal);
}

void BridgeField::Advance(Millis now, const LineSink& sink) {
    if (!monitoring_) return;
    std::uniform_int_distribution<int> drift(-3, 3);

    std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) { return a.due < b.due; });
    while (!pending_.empty() && pending_.front().due <= now) {
        const Pending p = pending_.front();
        pending_.erase(pending_.begin());
        Bridge& b = bridges_[p.bridge];
        sink(ReportLine(b, AnswerPayload(b, p.answer)));
    }
    for (Bridge& b : bridges_) {
        if (b.nextReport > now) continue;
        b.signal = std::clamp(b.signal + drift(rng_), 40, 98);
        sink(ReportLine(b, NextPayload(b)));
        b.nextReport = now + Jittered(config_.intervalMs);
    }
}

Millis BridgeField::NextDue() const {
    if (!monitoring_) return kNever;
    Millis due = kNever;
    for (const Pending& p : pending_) due = std::min(due, p.due);
    for (const Bridge& b : bridges_) due = std::min(due, b.nextReport);
    return due;
}

bool BridgeField::Downlink(const std::string& hex, Millis now) {
    std::vector<std::uint8_t> frame;
    if (!FromHex(hex, frame)) return false;
    if (frame.size() < 17 || !std::equal(kDownlinkHeader.begin(), kDownlinkHeader.end(), frame.begin()))
        return true; // transmitted, but no bridge understands it
    std::array<std::uint8_t, 6> id{};
    std::copy(frame.begin() + 10, frame.begin() + 16, id.begin());
    const auto it = std::find_if(bridges_.begin(), bridges_.end(), [&](const Bridge& b) { return b.id == id; });
    if (it == bridges_.end()) return true;
    const auto index = static_cast<std::size_t>(it - bridges_.begin());
    const std::uint8_t command = frame[16];
    if (command == 2) {
        std::uniform_int_distribution<Millis> delay(200, 600);
        pending_.push_back({now + delay(rng_), index, Answer::BlinkDone});
    } else if (command == 8) {
        std::uniform_int_distribution<Millis> delay(300, 900);
        pending_.push_back({now + delay(rng_), index, Answer::SignalCheck});
    }
    return true;
}

void BridgeField::ForgetPending() { pending_.clear(); }

} // namespace gwsim
