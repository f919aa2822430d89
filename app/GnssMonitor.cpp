// The "GNSS" tab of the main window: ParseGNSS and the map. ("Monitor GNSS"
// itself, cShow_GNSSClick, sits beside "Monitor bridges" in FOvMonitor.cpp.)
#include "GnssMonitor.h"

#include "FOvMonitor.h"
#include "map/MyMapBox.h"
#include "support/MyConvert.h"
#include "support/MyFunctions.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

namespace {

// Blanks and control characters, trimmed from both ends of every field.
const std::string& ControlCharacters() {
  static const std::string characters = [] {
    std::string set;
    for (int c = 0; c <= ' '; ++c) set.push_back(static_cast<char>(c));
    return set;
  }();
  return characters;
}

std::string Trimmed(const std::string& text) { return TrimCharSet(text, ControlCharacters()); }

// A number of degrees followed by one hemisphere letter; `negative` makes it negative.
double Coordinate(const std::string& field, char negative) {
  if (field.empty()) return 0;
  const double value = TextToFloat(field.substr(0, field.size() - 1), 0);
  return field.back() == negative ? -value : value;
}

}  // namespace

TGnssReport ParseGnssReport(const std::string& text) {
  TGnssReport report;
  std::string rest = text;
  report.time = Trimmed(CutToken(rest, ','));
  report.latitude = Coordinate(Trimmed(CutToken(rest, ',')), 'S');
  report.longitude = Coordinate(Trimmed(CutToken(rest, ',')), 'W');
  rest = Trimmed(rest);
  report.satellites = CutToken(rest, ' ');
  CutToken(rest, ' ');
  report.validity = rest;
  return report;
}

void TFOvMonitor::ParseGNSS(const std::string& text) {
  const TGnssReport report = ParseGnssReport(text);
  ui->vGNSS_Date->SetCaption(report.time);
  ui->vGNSS_Sat->SetCaption(report.satellites);
  ui->lGNSS_Valid->SetCaption(report.validity);
  if (report.IsValidFix()) {
    ui->lGNSS_Valid->SwitchOn();
    ui->mMap->SetCursorPoint(true, report.latitude, report.longitude);
  } else {
    ui->lGNSS_Valid->SwitchOff();
    ui->mMap->ClearPoints(true);
  }
}

void TFOvMonitor::SetupMap() {
  TMapBox* map = ui->mMap;
  map->SetCursorColor(clLime);
  map->SetShowBorder(true);
  map->SetMapCenterType(mapCenter_AllPoints);
  map->SetMapAlternateURL(Settings->ReadString(kEndpointsSection, kMapTilesValue, ""));
  map->SetMapAttribution(Settings->ReadString(kEndpointsSection, kMapAttributionValue, ""));
}
