#pragma once
// The facts of an installation report, as the window knows them at one
// moment: identity, supply, connectivity, cloud state and record, GNSS fix,
// map picture and bridges. A fact the window has not read is absent
// (std::nullopt, an empty list), never a made-up default: the report then says
// "not read" and the JSON holds null.
//
// GatherReportFacts reads the window's displays and its database; ReportJson
// turns the facts into the machine-readable half of the report. Its keys are
// listed in the README ("Installation report") and must stay stable.
//
// Thread: GUI thread only (GatherReportFacts reads widgets).

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TFOvMonitor;

struct TReportBridge {
  std::string id;
  std::optional<std::string> version;
  std::optional<int> type;
  std::optional<int> level;  // RSSI_RX, dBm
  std::string lastSeen;      // ISO 8601, UTC
};

struct TReportFacts {
  QDateTime writtenUtc;
  QDateTime writtenLocal;
  std::string toolVersion;

  std::optional<std::string> accountId;
  std::optional<std::string> accountName;

  std::optional<std::string> gatewayId, hardware, firmware, iccid, apn, server, ownerAccountId;

  std::optional<double> supplyVolts, batteryVolts;
  std::optional<bool> ignition;

  std::optional<std::string> network;     // operator and registration, as the window shows it
  std::optional<std::string> technology;  // "4G", "M1", "WiFi", ...
  std::optional<int> signalDbm;
  std::optional<int> signalBars;          // 0..5

  std::optional<std::string> stateText;   // the ":state" status word as shown
  std::optional<std::string> onlineText;  // the ":state" online word
  std::vector<std::string> lampsLit;      // captions of the lit state lamps
  std::optional<std::string> lampBlinking;

  // The cloud record, when it was fetched for this gateway.
  bool cloudRecordFetched = false;
  std::optional<std::string> cloudStatus;
  std::optional<bool> cloudOnline;
  std::vector<std::pair<std::string, std::string>> cloudInformation;
  std::vector<std::pair<std::string, std::string>> cloudConfiguration;

  std::optional<std::string> gnssTimeText;  // as received
  std::optional<std::string> gnssTime;      // ISO 8601 UTC when the text reads as a time
  std::optional<int> gnssSatellites;
  std::optional<bool> gnssValid;
  std::optional<double> latitude, longitude;
  std::optional<std::string> locationText;  // in the map's location style
  QImage mapPicture;
  bool mapAvailable = false;

  std::vector<TReportBridge> bridges;
};

inline constexpr int kReportMapWidth = 480;
inline constexpr int kReportMapHeight = 300;

TReportFacts GatherReportFacts(TFOvMonitor& window);

// Signal bars, 0 to 5, spread evenly over the signal bar's range (-114 to -48 dBm).
int SignalBars(int levelDbm);

// "12:34:56 01/02/2024" (the gateway's GNSS time, UTC) as ISO 8601; nullopt
// when the text is no such time.
std::optional<std::string> GnssTimeIso(const std::string& text);

// The JSON document of the report, UTF-8, indented.
QByteArray ReportJson(const TReportFacts& facts);
