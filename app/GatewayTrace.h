#pragma once
// What the trace file (support/Trace.h) shows of the gateway dialogue: every
// command line sent ("> %info") and every line received ("< OK info").
// The values of the gateway's secret parameters (SIM PIN, WiFi password) are
// written as "***" wherever a line carries them: in "%par_set", in the ":get"
// answer and in an acknowledgement that repeats the command.
//
// Thread: any thread; nothing is written while tracing is off.

#include <string>
#include <string_view>

#include "support/Trace.h"

// The line as traced, secrets masked.
std::string GatewayTraceText(const std::string& line);
void TraceGatewayLine(const char* direction, const std::string& line);
inline void TraceGatewaySent(const std::string& line) {
  if (Trace::Enabled()) TraceGatewayLine("> ", line);
}
inline void TraceGatewayReceived(std::string_view line) {
  if (Trace::Enabled()) TraceGatewayLine("< ", std::string(line));
}
