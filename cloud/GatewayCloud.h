#pragma once
// Rules of the gateway's cloud record that do not depend on the window:
// which IDs the cloud operations accept, and how a configuration value is
// shown beside the value the cloud wants the gateway to take.
//
// Thread: pure functions, any thread.

#include <optional>
#include <string>

// The settings value of the "Auto register" box: 1 ticked, 0 not; read as
// ticked when above 0.
inline constexpr const char* kAutoRegisterValue = "Auto register";

// Exactly 18 characters beginning with "QEL" (case-sensitive). Cloud
// operations given any other ID do nothing.
bool IsGatewayID(const std::string& id);

// A gateway ID typed by the user: upper-cased, accepted when it is "QEL"
// followed by 15 decimal digits; nothing otherwise.
std::optional<std::string> CustomGatewayIDFromEntry(const std::string& entry);

// The parameters grid's value cell: the reported value alone when the desired
// value equals it, else value + " => " + desired (an absent desired value
// counts as empty, so it shows as value + " => ").
std::string ConfigValueText(const std::string& value, const std::string& desiredValue);
