#pragma once
// The gateway itself: answers command lines, keeps its parameter store and sends the
// report streams that the "%show_" commands switch on.
//
// Lines it sends (each handed to the sink without line end):
//   "OK <command>" / "ERROR <command>"   acknowledgement, <command> is the command word
//                                        without its "%" (withheld while not acknowledging)
//   ":info <id>,<iccid>,<hardware>,<firmware>,<owner>,<server>"
//   ":io <supply>V <battery>V <ignition 0|1>"
//   ":cell <network code> <registration> <access technology> <signal magnitude> "<operator>""
//   ":sim <status>"                      0 absent, 1 ready, 2 locked
//   ":wifi <0|1> "<ssid>""
//   ":state <status word>,<Online|Offline>"
//   ":get <number> <value>"
//   ":gnss <hh:mm:ss dd/mm/yyyy>, <lat>N|S, <lon>E|W, <satellites> <hdop> valid|no fix"
//                                        (":gnss , , , " in the first quarter of the time to fix)
//   ":brg2gw ..."                        see BridgeField
//   ":boot <id>,<firmware>"              after a restart
//
// Thread: single-threaded; every call carries the current time.

#include "BridgeField.h"
#include "SimTypes.h"

#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace gwsim {

enum class SimCard { Ready, Locked, Absent };

struct GatewayConfig {
    std::string gatewayId = "QEL100000000004217";
    std::string hardware = "QGW-410 rev B";
    std::string firmware = "3.8.12";
    std::map<int, std::string> factoryOverrides; // --param N=VALUE
    // Firmware fault: reads of these are acknowledged, but no ":get" follows.
    std::set<int> unanswered;                    // --unanswered-param N
    SimCard simCard = SimCard::Ready;
    std::string simPin = "1234";
    double latitude = 38.70710;  // centre of the GNSS track, degrees north
    double longitude = -9.13550; // degrees east
    Millis gnssFixMs = 4000;     // power-up to first valid fix
    Millis rebootMs = 2000;
    BridgeConfig bridges;
    std::uint32_t seed = 1;
};

class GatewayModel {
public:
    GatewayModel(GatewayConfig config, LineSink sink, Millis now);

    // One received line, CR and LF already removed.
    void HandleLine(const std::string& line, Millis now);
    // Emits everything due at `now`.
    void Advance(Millis now);
    // Earliest time Advance has work.
    Millis NextDue() const;

    bool IsRebooting(Millis now) const { return now < rebootUntil_; }
    void SetAcknowledging(bool on) { acknowledging_ = on; }
    bool IsAcknowledging() const { return acknowledging_; }
    void SetIgnition(bool on) { ignition_ = on; }
    void SetSimCard(SimCard card, Millis now);
    // Reports `text` as the cloud state instead of the modelled one; empty follows the model.
    void PinCloudState(std::string text, Millis now);
    // From now on ":state" tells what the cloud says of this gateway: `status` is the
    // cloud's status word, "" while the cloud does not know the gateway.
    void FollowCloud(std::string status, Millis now);
    const std::string& GatewayId() const { return config_.gatewayId; }
    // Parameter write with the same side effects as "%par_set" (read-only ones included).
    void SetParameter(int number, const std::string& value, Millis now);
    // Power cycle: like "%reboot" but without an acknowledgement.
    void PowerCycle(Millis now);

private:
    struct Stream {
        bool on = false;
        Millis periodMs = 0;
        Millis next = std::numeric_limits<Millis>::max();
        void Start(Millis now, Millis period) {
            on = true;
            periodMs = period;
            next = now;
        }
        void Stop() {
            on = false;
            next = std::numeric_limits<Millis>::max();
        }
    };
    enum class CloudLink { Down, Connecting, Up };

    void Acknowledge(bool ok, const std::string& command);
    void Emit(const std::string& line) { sink_(line); }
    void ResetParameters(Millis now);
    bool ApplyParameter(int number, const std::string& value, Millis now);
    bool SetShowFlag(Stream& stream, const std::string& argument, Millis now, Millis period);
    void Boot(Millis now);
    void After(Millis due, int what);
    void RunEvent(int what, Millis now);

    bool HasBearer(Millis now) const;
    bool WifiConfigured() const;
    bool WifiConnected() const;
    void TryConnect(Millis now);
    void DropConnection(Millis now);
    std::string CloudStateText() const;
    void CloudStateMaybeChanged();

    void SendInfo();
    void SendIO();
    void SendCell(Millis now);
    void SendState();
    void SendGnss(Millis now);

    GatewayConfig config_;
    LineSink sink_;
    std::mt19937 rng_;
    BridgeField bridges_;
    std::map<int, std::string> parameters_;
    bool acknowledging_ = true;
    bool ignition_ = true;
    SimCard simCard_;
    bool simUnlocked_ = false;
    Millis bootAt_ = 0;
    Millis rebootUntil_ = std::numeric_limits<Millis>::min();
    CloudLink link_ = CloudLink::Down;
    std::string pinnedState_;
    bool followCloud_ = false;
    std::string cloudStatus_;
    std::string lastState_;
    int signal_ = 71;
    double supplyVolts_ = 14.0;

    Stream cell_, io_, state_, gnss_;
    // One-shot events (attach, connect steps, end of restart); a restart drops them all.
    struct Event {
        Millis due;
        int what;
    };
    std::vector<Event> events_;
    Millis attachAt_ = 0; // cellular registration completes
};

} // namespace gwsim
