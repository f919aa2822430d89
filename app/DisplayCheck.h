#pragma once
// Whether the window can be shown at all, asked before the application object
// exists: without a display Qt's own start ends in an abort with advice about
// reinstalling, which sends a technician the wrong way.
//
// Thread: any (reads what it is given; tries the local display's socket).

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The value of an environment variable; nullopt when it is not set.
using TEnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
TEnvironmentLookup ProcessEnvironment();

// The message for standard error when no platform was chosen (QT_QPA_PLATFORM,
// "-platform"), the headless provisioning mode (--provision) is not asked for,
// and no display is reachable: neither DISPLAY nor WAYLAND_DISPLAY is set, or
// the local X server or Wayland compositor they name does not accept on its socket. Nullopt
// when the window may be tried.
std::optional<std::string> NoDisplayMessage(const std::vector<std::string>& arguments,
                                            const TEnvironmentLookup& environment);
