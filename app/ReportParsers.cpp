// The gateway's reports of who it is and how it is connected: ":info", ":io",
// ":cell", ":sim", ":wifi", and its cloud registration state ":state".
// Malformed fields give empty texts or the defaults named per field; nothing
// here answers the gateway or reports an error.
#include "FOvMonitor.h"

#include <cstdint>

#include "support/MyConvert.h"
#include "support/MyFunctions.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

// Report fields are trimmed of blanks and control characters at both ends.
std::string TrimControls(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

// The operator and network names come wrapped in one character (a quote) at
// each end.
std::string Unwrapped(const std::string& text) {
  return text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
}

// Byte positions of the network code: mobile country code, then network code.
std::string SafeSubstr(const std::string& text, std::size_t position, std::size_t count) {
  return position < text.size() ? text.substr(position, count) : std::string();
}

constexpr int kSignalFloor = -114;
constexpr int kSignalCeiling = -48;

}  // namespace

// Selecting by the list's own comparison, which ignores letter case; no equal
// entry leaves no selection.
static void SelectServer(QComboBox* list, const std::string& name) {
  list->setCurrentIndex(list->findText(ToQString(name), Qt::MatchFixedString));
}

void TFOvMonitor::ParseInfo(const std::string& text) {
  ui->vGWID->SetCaption(TrimControls(TokenAt(text, 0, ',')));
  ShowBytes(ui->eICCID, TrimControls(TokenAt(text, 1, ',')));
  ui->vHardware->SetCaption(TrimControls(TokenAt(text, 2, ',')));
  ui->vVersion->SetCaption(TrimControls(TokenAt(text, 3, ',')));
  ShowBytes(ui->eOwnerID, TrimControls(TokenAt(text, 4, ',')));
  SelectServer(ui->cServer, TrimControls(TokenAt(text, 5, ',')));
  // Automatic registration with the new ID joins with the cloud tab.
}

void TFOvMonitor::ParseIO(const std::string& text) {
  std::string rest = text;
  ui->vVIN->SetCaption(CutToken(rest, ' '));
  ui->vVBAT->SetCaption(CutToken(rest, ' '));
  const bool ignition = CutToken(rest, ' ') == "1";
  ui->vIgnition->SetCaption(ignition ? "ON" : "OFF");
  ui->vIgnition->SetLedOn(ignition);
  ui->vIgnition->SetEnabled(true);
}

std::string TFOvMonitor::NetworkGenText(int technology) {
  switch (technology) {
    case 0: return "2G";
    case 1: return "2G+";
    case 2: return "3G";
    case 3: return "3G+";
    case 4: return "4G";
    case 8: return "M1";
    case 9: return "NB";
    default: return {};
  }
}

std::string TFOvMonitor::RegistrationText(int registration) {
  switch (registration) {
    case 1: return "Home";
    case 2:
    case 4: return "Searching";
    case 3: return "Denied";
    case 5: return "Roaming";
    default: return {};
  }
}

void TFOvMonitor::ParseCell(const std::string& text) {
  std::string rest = text;
  const std::string networkCode = CutToken(rest, ' ');
  const int registration = TextToInt(CutToken(rest, ' '), -1);
  const int technology = TextToInt(CutToken(rest, ' '), 0);
  const int magnitude = TextToInt(CutToken(rest, ' '), 0);

  TLedPanel* network = ui->vNetwork;
  network->setToolTip(networkCode == "0"
                          ? QStringLiteral("N/A")
                          : ToQString(SafeSubstr(networkCode, 0, 3) + "/" + SafeSubstr(networkCode, 3, 3)));
  if (registration == 1 || registration == 5)
    network->SwitchOn(clGreen);
  else if (registration == 3 || registration == 255)
    network->SwitchOn(clMaroon);
  else
    network->SwitchOn(clOlive);
  ui->vNetworkGen->SetCaption(NetworkGenText(technology));

  if (registration == 0)
    network->SetCaption("Searching for network...");
  else if (registration == 255)
    network->SetCaption("SIM was not detected");
  else
    network->SetCaption(Unwrapped(rest) + (registration > 0 ? " (" + RegistrationText(registration) + ")" : ""));

  // Negated in 64 bits: a magnitude that wrapped to INT_MIN has no 32-bit negative.
  std::int64_t level = -static_cast<std::int64_t>(magnitude);
  if (magnitude == 0 || level < kSignalFloor)
    level = kSignalFloor;
  else if (level > kSignalCeiling)
    level = kSignalCeiling;
  ui->pSignalLevel->setValue(static_cast<int>(level));
  ui->pSignalLevel->setToolTip(QString::number(level));
}

void TFOvMonitor::ParseSIM(const std::string& text) {
  std::string rest = text;
  const int status = TextToInt(CutToken(rest, ' '), 0);
  TLedPanel* network = ui->vNetwork;
  if (status == 2) {
    network->SetCaption("SIM Locked");
    network->SwitchOn(clMaroon);
  } else if (network->Caption() == "SIM Locked") {
    // Only a lock this report set is lifted; an operator name stays.
    network->SetCaption(status == 1 ? "SIM Ready" : "Unknown SIM state");
    network->SwitchOn(clOlive);
  }
}

void TFOvMonitor::ParseWiFi(const std::string& text) {
  std::string rest = text;
  const int connected = TextToInt(CutToken(rest, ' '), 0);
  TLedPanel* network = ui->vNetwork;
  if (connected == 1) {
    network->SetCaption(TextOrDefault(Unwrapped(rest), "Connected") + " (WiFi)");
    network->SwitchOn(clGreen);
  } else {
    network->SetCaption("Disconnected");
    network->SwitchOn(clMaroon);
  }
  ui->vNetworkGen->SetCaption("WiFi");
  ui->pSignalLevel->setValue(kSignalFloor);
  ui->pSignalLevel->setToolTip(QString());
}

namespace {

int CloudStateLevel(const std::string& status) {
  if (status == "connected" || status == "online") return 10;
  if (status == "approved") return 6;
  if (status == "not approved") return 4;
  if (status == "registered") return 3;
  if (status == "reg. pending") return 2;
  if (status == "not registered") return 1;
  return 0;
}

}  // namespace

void TFOvMonitor::ShowCloudState(const std::string& text) {
  const std::string status = TrimControls(TokenAt(text, 0, ','));
  const std::string online = TrimControls(TokenAt(text, 1, ','));
  ui->pGWS_Online->setText(ToQString(TextOrDefault(online, "Online")));

  const int level = CloudStateLevel(status);
  TLedPanel* gatewayStatus = ui->vGWStatus;
  gatewayStatus->SetCaption(status);
  gatewayStatus->SetEnabled(level > 0);
  if (level == 10)
    gatewayStatus->SwitchOn(clLime);
  else
    gatewayStatus->TriggerColor(clAqua);

  // Lamps below the level are lit, the one at the level blinks (the step the
  // gateway is in), the ones above are off.
  TLedPanel* const lamps[] = {ui->lGWS_NotRegistered, ui->lGWS_RegPending, ui->lGWS_Registered,
                              ui->lGWS_NotApproved,   ui->lGWS_Approved,   ui->lGWS_Online};
  for (int n = 1; n <= 6; ++n) {
    TLedPanel* lamp = lamps[n - 1];
    lamp->SetEnabled(level > 0);
    if (n < level)
      lamp->SwitchOn();
    else if (n == level)
      lamp->StartBlink();
    else
      lamp->SwitchOff();
  }
}
