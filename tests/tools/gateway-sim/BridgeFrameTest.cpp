// Bridge frames from gateway-sim decoded exactly as the monitor decodes them: the 31-byte
// advertising header, the 00 00 EE prefix, the information frame layout, and the answers
// to blink and signal-check downlinks.

#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

using simtest::SimProcess;

namespace {

struct Decoded {
    bool accepted = false;
    bool rawWas31 = false;
    int type = 0;
    int api = 0;
    int subType = 0;
    int byte26 = 0;
    bool information = false;
    std::string id;
    std::string version;
    int boardType = -1;
    int signal = 0;
};

std::vector<std::uint8_t> HexBytes(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string IdText(const std::vector<std::uint8_t>& f, std::size_t at) {
    std::string text;
    char digits[3];
    for (std::size_t i = at; i < at + 6; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", f[i]);
        text += digits;
    }
    return text;
}

// The monitor's reading of a ":brg2gw" argument text.
Decoded Decode(const std::string& argument) {
    Decoded d;
    const auto first = argument.find(' ');
    const auto second = argument.find(' ', first + 1);
    auto f = HexBytes(argument.substr(first + 1, second - first - 1));
    d.signal = std::stoi(argument.substr(second + 1)) & 0xFF;
    d.rawWas31 = f.size() == 31;
    if (f.size() == 31) f.erase(f.begin(), f.begin() + 4);
    if (f.size() < 27 || f[0] != 0x00 || f[1] != 0x00 || f[2] != 0xEE) return d;
    d.accepted = true;
    d.type = f[3];
    d.api = f[4];
    d.id = IdText(f, 6);
    d.subType = f[12];
    d.byte26 = f[26];
    if (d.type == 2 && d.api == 7) {
        d.information = true;
        d.id = IdText(f, 12);
        d.version = std::to_string(f[18]) + "." + std::to_string(f[19]) + "." + std::to_string(f[20]);
        d.boardType = f[12];
    }
    return d;
}

std::unique_ptr<SimProcess> StartBridges() {
    auto sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--bridges", "5", "--bridge-interval", "60", "--seed", "42"});
    EXPECT_EQ(sim->NextStdoutLine().rfind("/dev/pts/", 0), 0u);
    EXPECT_TRUE(sim->OpenPort());
    EXPECT_TRUE(sim->Send("%show_brg 1"));
    return sim;
}

std::string Downlink(const std::string& id, const std::string& commandAndSuffix) {
    return "%pkt_tx 1E16AFFD0000ED070742" + id + commandAndSuffix;
}

// Reads bridge lines until one of type 7 with the given sub-type; gives up after a number
// of ordinary reports far beyond the answer's delay, so a missing answer fails the test.
std::optional<Decoded> WaitForAnswer(SimProcess& sim, int subType) {
    for (int heard = 0; heard < 200; ++heard) {
        const auto line = sim.WaitFor(":brg2gw ");
        if (!line) return std::nullopt;
        const Decoded d = Decode(line->substr(8));
        if (d.type == 7 && d.subType == subType) return d;
    }
    return std::nullopt;
}

} // namespace

TEST(GatewaySimBridges, EveryFrameDecodesAndInformationFramesNameTheSameBridges) {
    auto sim = StartBridges();
    std::map<std::string, int> reportsPerBridge;
    std::map<std::string, std::string> versions;
    std::set<std::string> apiSevenIds;
    std::set<std::string> apiOtherIds;
    bool saw31 = false;
    bool saw27 = false;
    // Read until every bridge has been heard several times: enough for each API 7 bridge's
    // information frame (its first) and both carrier forms.
    while (reportsPerBridge.size() < 5 ||
           std::any_of(reportsPerBridge.begin(), reportsPerBridge.end(), [](auto& e) { return e.second < 6; })) {
        const auto line = sim->WaitFor(":brg2gw ");
        ASSERT_TRUE(line);
        const Decoded d = Decode(line->substr(8));
        ASSERT_TRUE(d.accepted) << *line;
        EXPECT_GE(d.signal, 30) << *line;
        EXPECT_LE(d.signal, 110) << *line;
        (d.rawWas31 ? saw31 : saw27) = true;
        ++reportsPerBridge[d.id];
        if (d.information) {
            versions[d.id] = d.version;
            EXPECT_EQ(d.boardType, std::stoi(d.id.substr(0, 2), nullptr, 16));
        } else if (d.type == 7 || d.type == 2) {
            (d.api == 7 ? apiSevenIds : apiOtherIds).insert(d.id);
            // Outside a signal-check answer byte 26 means something else.
            EXPECT_NE(d.subType, 8) << *line;
        }
    }
    EXPECT_TRUE(saw31);
    EXPECT_TRUE(saw27);
    EXPECT_EQ(reportsPerBridge.size(), 5u);
    EXPECT_FALSE(apiOtherIds.empty()) << "an older bridge without information frames";
    // Each API 7 bridge announced its firmware under the ID its ordinary frames carry.
    for (const std::string& id : apiSevenIds) {
        ASSERT_TRUE(versions.count(id)) << id;
        EXPECT_EQ(std::count(versions[id].begin(), versions[id].end(), '.'), 2) << versions[id];
    }
    for (const std::string& id : apiOtherIds) EXPECT_FALSE(versions.count(id)) << id;
}

TEST(GatewaySimBridges, SignalCheckAndBlinkAreAnsweredByTheAddressedBridge) {
    auto sim = StartBridges();
    const auto first = sim->WaitFor(":brg2gw ");
    ASSERT_TRUE(first);
    const std::string id = Decode(first->substr(8)).id;

    ASSERT_TRUE(sim->Send(Downlink(id, "0854455354")));
    ASSERT_TRUE(sim->WaitFor("OK pkt_tx"));
    const auto check = WaitForAnswer(*sim, 8);
    ASSERT_TRUE(check);
    EXPECT_EQ(check->id, id);
    EXPECT_GT(check->byte26, 0);

    ASSERT_TRUE(sim->Send(Downlink(id, "02")));
    ASSERT_TRUE(sim->WaitFor("OK pkt_tx"));
    const auto blink = WaitForAnswer(*sim, 2);
    ASSERT_TRUE(blink);
    EXPECT_EQ(blink->id, id);
}
