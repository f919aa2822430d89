#include "GatewayTrace.h"

#include "support/MyFunctions.h"

namespace {

// The SIM PIN and the WiFi password (see Parameters.cpp).
bool IsSecretParameter(const std::string& number) { return number == "61" || number == "5641"; }

bool CarriesParameterValue(const std::string& keyword) {
  return keyword == "%par_set" || keyword == ":get" || keyword == "OK" || keyword == "ERROR";
}

}  // namespace

std::string GatewayTraceText(const std::string& line) {
  std::string rest = line;
  const std::string keyword = CutToken(rest, ' ');
  // An acknowledgement may name the command before the number: "OK par_set 61 ...".
  if ((keyword == "OK" || keyword == "ERROR") && TokenAt(rest, 0, ' ') == "par_set") CutToken(rest, ' ');
  if (!CarriesParameterValue(keyword) || rest.empty()) return line;
  const std::string number = CutToken(rest, ' ');
  if (!IsSecretParameter(number) || rest.empty()) return line;
  return line.substr(0, line.size() - rest.size()) + "***";
}

void TraceGatewayLine(const char* direction, const std::string& line) {
  Trace::Line(direction + GatewayTraceText(line));
}
