#include "ReportFacts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <algorithm>

#include "FOvMonitor.h"
#include "cloud/GatewayCloud.h"
#include "db/MySQLite.h"
#include "map/MyMapBox.h"
#include "support/Clock.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

constexpr int kSignalFloor = -114;
constexpr int kSignalCeiling = -48;

std::optional<std::string> Known(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

// "14.0V" -> 14.0; anything that is not a number of volts is not read.
std::optional<double> Volts(const std::string& caption) {
  QString text = ToQString(caption).trimmed();
  if (text.endsWith(QLatin1Char('V'), Qt::CaseInsensitive)) text.chop(1);
  bool ok = false;
  const double value = text.toDouble(&ok);
  return ok ? std::optional<double>(value) : std::nullopt;
}

QDateTime LocalDateTime(double dateTime) {
  const TDateTimeParts parts = DecodeDateTime(dateTime);
  return QDateTime(QDate(parts.year, parts.month, parts.day),
                   QTime(parts.hour, parts.minute, parts.second, parts.millisecond));
}

// A `brg`.`Received` text ("YYYY-MM-DD HH:MM:SS", UTC) in ISO 8601.
std::string ReceivedIso(const std::string& received) {
  QDateTime time = QDateTime::fromString(ToQString(received), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  if (!time.isValid()) return received;
  time.setTimeSpec(Qt::UTC);
  return FromQString(time.toString(Qt::ISODate));
}

void GatherCloudRecord(TFOvMonitor& window, TReportFacts& facts) {
  if (!facts.gatewayId) return;
  TSQLiteQuery query(window.DB());
  query.SQL = {"SELECT `status`, `online` FROM `gw` WHERE `gatewayId` = ?"};
  query.Prepare();
  query.BindParam(1, Variant(*facts.gatewayId));
  if (!query.Open()) return;
  facts.cloudRecordFetched = true;
  facts.cloudStatus = Known(query.FieldValue("status").ToString());
  facts.cloudOnline = query.FieldValue("online").ToString() == "1";
  query.Close();
  const auto rows = [&](const char* table, std::vector<std::pair<std::string, std::string>>& into) {
    query.SQL = {std::string("SELECT * FROM `") + table + "` WHERE `gatewayId` = ? ORDER BY `param`"};
    query.Prepare();
    query.BindParam(1, Variant(*facts.gatewayId));
    for (bool row = query.Open(); row; row = query.Next()) {
      std::string value = query.FieldValue("value").ToString();
      // As the parameters grid shows it: reported, and desired when it differs.
      if (std::string(table) == "gw_config") value = ConfigValueText(value, query.FieldValue("desiredValue").ToString());
      into.emplace_back(query.FieldValue("param").ToString(), value);
    }
    query.Close();
  };
  rows("gw_info", facts.cloudInformation);
  rows("gw_config", facts.cloudConfiguration);
}

void GatherBridges(TFOvMonitor& window, TReportFacts& facts) {
  TSQLiteQuery query(window.DB());
  query.SQL = {"SELECT `MAC`, `Version`, `BoardType`, `RSSI_RX`, `Received` FROM `brg` ORDER BY `MAC`"};
  for (bool row = query.Open(); row; row = query.Next()) {
    TReportBridge bridge;
    bridge.id = query.FieldValue("MAC").ToString();
    const Variant version = query.FieldValue("Version");
    if (!version.IsNullOrEmpty()) bridge.version = version.ToString();
    const Variant type = query.FieldValue("BoardType");
    if (!type.IsNull()) bridge.type = type.ToInt32();
    const Variant level = query.FieldValue("RSSI_RX");
    if (!level.IsNull()) bridge.level = level.ToInt32();
    bridge.lastSeen = ReceivedIso(query.FieldValue("Received").ToString());
    facts.bridges.push_back(std::move(bridge));
  }
}

void GatherGnss(TFOvMonitor& window, TReportFacts& facts) {
  Ui::uOrvaneMonitor& form = window.Form();
  facts.gnssTimeText = Known(form.vGNSS_Date->Caption());
  if (facts.gnssTimeText) facts.gnssTime = GnssTimeIso(*facts.gnssTimeText);
  bool ok = false;
  const int satellites = ToQString(form.vGNSS_Sat->Caption()).toInt(&ok);
  if (ok) facts.gnssSatellites = satellites;
  if (!form.lGNSS_Valid->Caption().empty()) facts.gnssValid = form.lGNSS_Valid->Caption() == "valid";

  TMapBox* map = form.mMap;
  if (map->PointCount() == 0) return;
  double latitude = 0, longitude = 0;
  map->GetPoint(0, latitude, longitude);
  facts.latitude = latitude;
  facts.longitude = longitude;
  // The window's map shows no location text; the report names the place in degrees.
  const TMapLocationStyle style = map->LocationStyle() == mapLoc_None ? mapLoc_Decimal : map->LocationStyle();
  facts.locationText = Known(LocationText(style, latitude, longitude));
  facts.mapPicture = map->PaintAround(latitude, longitude, QSize(kReportMapWidth, kReportMapHeight));
  facts.mapAvailable = map->LastPictureHasTiles();
}

}  // namespace

int SignalBars(int levelDbm) {
  const int clamped = std::clamp(levelDbm, kSignalFloor, kSignalCeiling);
  return ((clamped - kSignalFloor) * 5 + (kSignalCeiling - kSignalFloor) / 2) / (kSignalCeiling - kSignalFloor);
}

std::optional<std::string> GnssTimeIso(const std::string& text) {
  QDateTime time = QDateTime::fromString(ToQString(text).trimmed(), QStringLiteral("HH:mm:ss dd/MM/yyyy"));
  if (!time.isValid()) return std::nullopt;
  time.setTimeSpec(Qt::UTC);
  return FromQString(time.toString(Qt::ISODate));
}

TReportFacts GatherReportFacts(TFOvMonitor& window) {
  Ui::uOrvaneMonitor& form = window.Form();
  TReportFacts facts;
  facts.writtenLocal = LocalDateTime(Now());
  facts.writtenUtc = facts.writtenLocal.toUTC();
  facts.toolVersion = window.AppVersionText();

  const TOvAccount& account = window.CurrentAccount();
  facts.accountId = Known(account.accountId);
  if (facts.accountId) facts.accountName = Known(account.title);

  facts.gatewayId = Known(form.vGWID->Caption());
  facts.hardware = Known(form.vHardware->Caption());
  facts.firmware = Known(form.vVersion->Caption());
  facts.iccid = Known(EditBytes(form.eICCID));
  facts.apn = Known(EditBytes(form.eAPN));
  facts.server = Known(FromQString(form.cServer->currentText()));
  facts.ownerAccountId = Known(EditBytes(form.eOwnerID));

  facts.supplyVolts = Volts(form.vVIN->Caption());
  facts.batteryVolts = Volts(form.vVBAT->Caption());
  if (form.vIgnition->Enabled()) facts.ignition = form.vIgnition->LedOn();

  facts.network = Known(form.vNetwork->Caption());
  // While the gateway has no network its report carries no technology; the
  // window's "2G" is only what technology 0 is called.
  const bool noNetwork = facts.network == "Searching for network..." || facts.network == "SIM was not detected";
  if (!noNetwork) facts.technology = Known(form.vNetworkGen->Caption());
  // The bar's hint holds the level only while a ":cell" report stands, and its
  // floor is also where a report without a level puts it: no level was read.
  if (!form.pSignalLevel->toolTip().isEmpty() && form.pSignalLevel->value() > kSignalFloor) {
    facts.signalDbm = form.pSignalLevel->value();
    facts.signalBars = SignalBars(*facts.signalDbm);
  }

  facts.stateText = Known(form.vGWStatus->Caption());
  if (facts.stateText) facts.onlineText = Known(FromQString(form.pGWS_Online->text()));
  const std::pair<TLedPanel*, QLabel*> lamps[] = {
      {form.lGWS_NotRegistered, form.pGWS_NotRegistered}, {form.lGWS_RegPending, form.pGWS_RegPending},
      {form.lGWS_Registered, form.pGWS_Registered},       {form.lGWS_NotApproved, form.pGWS_NotApproved},
      {form.lGWS_Approved, form.pGWS_Approved},           {form.lGWS_Online, form.pGWS_Online}};
  for (const auto& [lamp, label] : lamps) {
    if (lamp->LedOn()) facts.lampsLit.push_back(FromQString(label->text()));
    if (lamp->Blinking()) facts.lampBlinking = FromQString(label->text());
  }

  GatherCloudRecord(window, facts);
  GatherGnss(window, facts);
  GatherBridges(window, facts);
  return facts;
}

namespace {

QJsonValue Text(const std::optional<std::string>& value) {
  return value ? QJsonValue(ToQString(*value)) : QJsonValue(QJsonValue::Null);
}
template <typename Number>
QJsonValue Numeric(const std::optional<Number>& value) {
  return value ? QJsonValue(static_cast<double>(*value)) : QJsonValue(QJsonValue::Null);
}
QJsonValue Flag(const std::optional<bool>& value) {
  return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}
QJsonArray Rows(const std::vector<std::pair<std::string, std::string>>& rows) {
  QJsonArray array;
  for (const auto& [name, value] : rows)
    array.append(QJsonObject{{QStringLiteral("name"), ToQString(name)}, {QStringLiteral("value"), ToQString(value)}});
  return array;
}
QJsonArray Texts(const std::vector<std::string>& texts) {
  QJsonArray array;
  for (const std::string& text : texts) array.append(ToQString(text));
  return array;
}

}  // namespace

QByteArray ReportJson(const TReportFacts& facts) {
  QJsonObject report;
  report[QStringLiteral("writtenUtc")] = facts.writtenUtc.toString(Qt::ISODate);
  report[QStringLiteral("writtenLocal")] = facts.writtenLocal.toOffsetFromUtc(facts.writtenLocal.offsetFromUtc())
                                               .toString(Qt::ISODate);
  report[QStringLiteral("toolVersion")] = ToQString(facts.toolVersion);
  report[QStringLiteral("account")] =
      QJsonObject{{QStringLiteral("id"), Text(facts.accountId)}, {QStringLiteral("name"), Text(facts.accountName)}};
  report[QStringLiteral("gateway")] = QJsonObject{
      {QStringLiteral("id"), Text(facts.gatewayId)},         {QStringLiteral("hardware"), Text(facts.hardware)},
      {QStringLiteral("firmware"), Text(facts.firmware)},     {QStringLiteral("iccid"), Text(facts.iccid)},
      {QStringLiteral("apn"), Text(facts.apn)},               {QStringLiteral("server"), Text(facts.server)},
      {QStringLiteral("accountId"), Text(facts.ownerAccountId)}};
  report[QStringLiteral("power")] = QJsonObject{{QStringLiteral("supplyVolts"), Numeric(facts.supplyVolts)},
                                                {QStringLiteral("batteryVolts"), Numeric(facts.batteryVolts)},
                                                {QStringLiteral("ignition"), Flag(facts.ignition)}};
  report[QStringLiteral("connectivity")] = QJsonObject{{QStringLiteral("network"), Text(facts.network)},
                                                       {QStringLiteral("technology"), Text(facts.technology)},
                                                       {QStringLiteral("signalDbm"), Numeric(facts.signalDbm)},
                                                       {QStringLiteral("signalBars"), Numeric(facts.signalBars)}};
  report[QStringLiteral("state")] = QJsonObject{{QStringLiteral("text"), Text(facts.stateText)},
                                                {QStringLiteral("online"), Text(facts.onlineText)},
                                                {QStringLiteral("lampsLit"), Texts(facts.lampsLit)},
                                                {QStringLiteral("lampBlinking"), Text(facts.lampBlinking)}};
  if (facts.cloudRecordFetched)
    report[QStringLiteral("cloudRecord")] =
        QJsonObject{{QStringLiteral("status"), Text(facts.cloudStatus)},
                    {QStringLiteral("online"), Flag(facts.cloudOnline)},
                    {QStringLiteral("information"), Rows(facts.cloudInformation)},
                    {QStringLiteral("configuration"), Rows(facts.cloudConfiguration)}};
  else
    report[QStringLiteral("cloudRecord")] = QJsonValue(QJsonValue::Null);
  report[QStringLiteral("gnss")] = QJsonObject{
      {QStringLiteral("time"), Text(facts.gnssTime)},         {QStringLiteral("timeText"), Text(facts.gnssTimeText)},
      {QStringLiteral("satellites"), Numeric(facts.gnssSatellites)}, {QStringLiteral("valid"), Flag(facts.gnssValid)},
      {QStringLiteral("latitude"), Numeric(facts.latitude)},  {QStringLiteral("longitude"), Numeric(facts.longitude)},
      {QStringLiteral("location"), Text(facts.locationText)},
      {QStringLiteral("mapAvailable"), facts.mapAvailable}};
  QJsonArray bridges;
  for (const TReportBridge& bridge : facts.bridges)
    bridges.append(QJsonObject{{QStringLiteral("id"), ToQString(bridge.id)},
                               {QStringLiteral("version"), Text(bridge.version)},
                               {QStringLiteral("type"), Numeric(bridge.type)},
                               {QStringLiteral("level"), Numeric(bridge.level)},
                               {QStringLiteral("lastSeen"), ToQString(bridge.lastSeen)}});
  report[QStringLiteral("bridges")] = bridges;
  return QJsonDocument(report).toJson(QJsonDocument::Indented);
}
