#pragma once
// The Bluetooth bridges a gateway hears, and the uplink frames it forwards from them.
//
// Every bridge transmits every few seconds; while the gateway forwards bridge traffic
// (monitoring on) each frame becomes one ":brg2gw" line:
//     ":brg2gw" <bridge address> <frame as hexadecimal> <signal magnitude in dB>
// Frames are 27-byte payloads beginning 00 00 EE, optionally carried with the 4-byte
// advertising header (length 0x1E, type 0x16, service UUID AF FD) in front, 31 bytes then.
//
// Thread: single-threaded, owned by the gateway model.

#include "SimTypes.h"

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace gwsim {

struct BridgeConfig {
    int count = 5;
    Millis intervalMs = 4000; // mean time between two frames of one bridge
};

class BridgeField {
public:
    BridgeField(const BridgeConfig& config, std::uint32_t seed);

    // Forwarding on or off; turning it on schedules every bridge anew, staggered.
    void SetMonitoring(bool on, Millis now);
    bool IsMonitoring() const { return monitoring_; }

    // Emits every frame due at `now` (nothing while monitoring is off).
    void Advance(Millis now, const LineSink& sink);
    // Earliest time Advance has work; a far-future value when there is none.
    Millis NextDue() const;

    // A downlink frame the gateway was asked to transmit, as hexadecimal text.
    // Returns false when the text is not an even number of hexadecimal digits (the
    // gateway refuses it). A well-formed frame addressed to a bridge makes that bridge
    // answer a blink (command 2) or a signal check (command 8) a moment later.
    bool Downlink(const std::string& hex, Millis now);

    // Drops answers still on their way (the gateway restarted).
    void ForgetPending();

    struct Bridge {
        std::array<std::uint8_t, 6> id{};       // id[0] doubles as the board type
        std::array<std::uint8_t, 6> configHash{};
        std::array<std::uint8_t, 3> version{};
        std::uint8_t api = 7;
        bool advertisingHeader = false;          // forwarded as 31-byte frames
        int signal = 70;                         // received level magnitude, dB below 0
        std::uint8_t sequence = 0;
        int reportCount = 0;
        Millis nextReport = 0;
    };
    const std::vector<Bridge>& Bridges() const { return bridges_; }

private:
    enum class Answer { BlinkDone, SignalCheck };
    struct Pending {
        Millis due;
        std::size_t bridge;
        Answer answer;
    };

    std::string ReportLine(Bridge& bridge, const std::vector<std::uint8_t>& payload) const;
    std::vector<std::uint8_t> NextPayload(Bridge& bridge);
    std::vector<std::uint8_t> AnswerPayload(Bridge& bridge, Answer answer);
    Millis Jittered(Millis base);

    BridgeConfig config_;
    std::mt19937 rng_;
    std::vector<Bridge> bridges_;
    std::vector<Pending> pending_;
    bool monitoring_ = false;
};

std::string ToHex(const std::vector<std::uint8_t>& bytes);

} // namespace gwsim
