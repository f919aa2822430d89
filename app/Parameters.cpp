// The gateway's numbered parameters and its three commands (tab "Gateway
// configuration"): reads go out as "%par_get", writes as "%par_set", and the
// ":get" answers are routed to the field of their parameter.
#include "FOvMonitor.h"

#include <algorithm>

#include "GatewayParameters.h"
#include "support/MyConvert.h"
#include "support/MyFunctions.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/QtText.h"

void TFOvMonitor::GetParameter(int number) { QueueCommandInt("%par_get", number); }

void TFOvMonitor::SetParameter(int number, const std::string& value) {
  // The value goes out as typed, inner blanks kept, and an empty value still
  // leaves the blank after the number. A CR or LF in it (pasted text) would end
  // the line early and turn the rest into a second command, so they are removed.
  std::string oneLine = value;
  std::erase_if(oneLine, [](char c) { return c == '\r' || c == '\n'; });
  QueueCommand("%par_set", std::to_string(number) + " " + oneLine);
}

void TFOvMonitor::ParseGet(const std::string& text) {
  std::string value = text;
  const int number = TextToInt(CutToken(value, ' '), 0);
  switch (number) {
    // Kept as bytes: a value the user does not edit is written back unchanged.
    case kOwnerAccount: ShowBytes(ui->eOwnerID, value); break;
    case kServerName: ui->cServer->setCurrentIndex(ui->cServer->findText(ToQString(value), Qt::MatchFixedString)); break;
    case kIccid: ShowBytes(ui->eICCID, value); break;
    case kApn: ShowBytes(ui->eAPN, value); break;
    case kWifiSsid: ShowBytes(ui->eWiFi_SSID, value); break;
    case kWifiPassword: ShowBytes(ui->eWiFi_Password, value); break;
    default: break;  // the SIM PIN (61) is write-only; others are not ours
  }
}

void TFOvMonitor::bWrite_PinClick() { SetParameter(kSimPin, EditBytes(ui->eSIMPin)); }
void TFOvMonitor::bRead_APNClick() { GetParameter(kApn); }
void TFOvMonitor::bWrite_APNClick() { SetParameter(kApn, EditBytes(ui->eAPN)); }
void TFOvMonitor::bRead_ICCIDClick() { GetParameter(kIccid); }
void TFOvMonitor::bRead_OwnerIDClick() { GetParameter(kOwnerAccount); }

void TFOvMonitor::bReset_OwnerIDClick() {
  if (!m_askYesNo("Do you want to unregister this gateway from Orvane't platform?")) return;
  SetParameter(kOwnerAccount, std::string());
  GetParameter(kOwnerAccount);
}

void TFOvMonitor::bRead_ServerClick() { GetParameter(kServerName); }

void TFOvMonitor::bWrite_ServerClick() {
  // The empty first entry, or no selection, writes an empty server name.
  SetParameter(kServerName, ui->cServer->currentIndex() < 0 ? std::string() : FromQString(ui->cServer->currentText()));
}

void TFOvMonitor::bRead_WiFiClick() {
  GetParameter(kWifiSsid);
  GetParameter(kWifiPassword);
}

void TFOvMonitor::bWrite_WiFiClick() {
  SetParameter(kWifiSsid, EditBytes(ui->eWiFi_SSID));
  SetParameter(kWifiPassword, EditBytes(ui->eWiFi_Password));
}

void TFOvMonitor::bCmd_DefaultsClick() { QueueCommand("%default"); }
void TFOvMonitor::bCmd_ConnectClick() { QueueCommand("%connect"); }

void TFOvMonitor::bCmd_RebootClick() {
  QueueCommand("%reboot");
  // "%reboot" leaves the queue as soon as it is written, so "%info" and the
  // rest follow one retransmission interval later, when the gateway is back.
  bGetInfoClick();
}
