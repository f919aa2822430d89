#include "ReportFile.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>

#include "widgets/QtText.h"

namespace {

const QString kMapResource = QStringLiteral("report-map.png");
const QString kNotRead = QStringLiteral("<i>not read</i>");

QString Html(const std::string& text) { return ToQString(text).toHtmlEscaped(); }
QString Html(const std::optional<std::string>& text) { return text ? Html(*text) : kNotRead; }
QString Html(const std::optional<bool>& flag, const char* on, const char* off) {
  return flag ? QString::fromLatin1(*flag ? on : off) : kNotRead;
}
QString Html(const std::optional<double>& volts) {
  return volts ? QString::number(*volts, 'f', 2) + QStringLiteral(" V") : kNotRead;
}

class THtmlTable {
 public:
  explicit THtmlTable(QString& html) : m_html(html) {
    m_html += QStringLiteral("<table cellspacing='0' cellpadding='3' border='0' width='100%'>");
  }
  ~THtmlTable() { m_html += QStringLiteral("</table>"); }
  void Row(const QString& name, const QString& value) {
    m_html += QStringLiteral("<tr><td width='32%' style='color:#404040'>%1</td><td>%2</td></tr>").arg(name, value);
  }

 private:
  QString& m_html;
};

void Heading(QString& html, const QString& text) {
  html += QStringLiteral("<h3 style='margin-top:14px; margin-bottom:4px'>%1</h3>").arg(text);
}

void NameValueRows(QString& html, const std::vector<std::pair<std::string, std::string>>& rows) {
  THtmlTable table(html);
  if (rows.empty()) table.Row(QStringLiteral("(no rows)"), QString());
  for (const auto& [name, value] : rows) table.Row(Html(name), Html(value));
}

bool Fail(std::string& error, const QString& file, const QString& why) {
  error = FromQString(file) + ": " + FromQString(why);
  return false;
}

}  // namespace

QString ReportHtml(const TReportFacts& f) {
  QString html = QStringLiteral("<html><body style='font-size:10pt'>");
  html += QStringLiteral("<h2 style='margin-bottom:2px'>Installation report</h2>");
  html += QStringLiteral("<p style='margin-top:0px'>%1 UTC (local %2)<br/>Qel Orvane Monitor %3</p>")
              .arg(f.writtenUtc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                   f.writtenLocal.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), Html(f.toolVersion));
  {
    Heading(html, QStringLiteral("Cloud account"));
    THtmlTable table(html);
    table.Row(QStringLiteral("Account ID"), Html(f.accountId));
    table.Row(QStringLiteral("Name"), Html(f.accountName));
  }
  {
    Heading(html, QStringLiteral("Gateway"));
    THtmlTable table(html);
    table.Row(QStringLiteral("Gateway ID"), Html(f.gatewayId));
    table.Row(QStringLiteral("Hardware"), Html(f.hardware));
    table.Row(QStringLiteral("Firmware version"), Html(f.firmware));
    table.Row(QStringLiteral("ICCID"), Html(f.iccid));
    table.Row(QStringLiteral("APN"), Html(f.apn));
    table.Row(QStringLiteral("Server"), Html(f.server));
    table.Row(QStringLiteral("Account ID"), Html(f.ownerAccountId));
  }
  {
    Heading(html, QStringLiteral("Power and connectivity"));
    THtmlTable table(html);
    table.Row(QStringLiteral("Power"), Html(f.supplyVolts));
    table.Row(QStringLiteral("Battery"), Html(f.batteryVolts));
    table.Row(QStringLiteral("Ignition"), Html(f.ignition, "ON", "OFF"));
    table.Row(QStringLiteral("Operator"), Html(f.network));
    table.Row(QStringLiteral("Technology"), Html(f.technology));
    table.Row(QStringLiteral("Signal level"),
              f.signalDbm ? QStringLiteral("%1 dBm (%2 of 5 bars)").arg(*f.signalDbm).arg(f.signalBars.value_or(0))
                          : kNotRead);
  }
  {
    Heading(html, QStringLiteral("Cloud state"));
    THtmlTable table(html);
    table.Row(QStringLiteral("State"), f.stateText ? Html(*f.stateText) + QStringLiteral(", ") + Html(f.onlineText)
                                                   : kNotRead);
    QStringList lit;
    for (const std::string& lamp : f.lampsLit) lit << Html(lamp);
    table.Row(QStringLiteral("Lamps lit"), f.stateText ? (lit.isEmpty() ? QStringLiteral("none") : lit.join(", ")) : kNotRead);
    if (f.lampBlinking) table.Row(QStringLiteral("Lamp blinking"), Html(*f.lampBlinking));
  }
  Heading(html, QStringLiteral("Cloud record"));
  if (!f.cloudRecordFetched) {
    html += QStringLiteral("<p>") + kNotRead + QStringLiteral("</p>");
  } else {
    {
      THtmlTable table(html);
      table.Row(QStringLiteral("Status"), Html(f.cloudStatus));
      table.Row(QStringLiteral("Online"), Html(f.cloudOnline, "yes", "no"));
    }
    html += QStringLiteral("<p style='margin-bottom:0px'><b>Information</b></p>");
    NameValueRows(html, f.cloudInformation);
    html += QStringLiteral("<p style='margin-bottom:0px'><b>Configuration</b></p>");
    NameValueRows(html, f.cloudConfiguration);
  }
  {
    Heading(html, QStringLiteral("GNSS"));
    THtmlTable table(html);
    table.Row(QStringLiteral("Time"), Html(f.gnssTimeText));
    table.Row(QStringLiteral("Satellites"), f.gnssSatellites ? QString::number(*f.gnssSatellites) : kNotRead);
    table.Row(QStringLiteral("Valid"), Html(f.gnssValid, "yes", "no"));
    table.Row(QStringLiteral("Position"), Html(f.locationText));
  }
  if (f.mapAvailable)
    html += QStringLiteral("<p><img src='%1' width='%2' height='%3'/></p>").arg(kMapResource).arg(kReportMapWidth).arg(kReportMapHeight);
  else
    html += QStringLiteral("<p>Map not available</p>");

  Heading(html, QStringLiteral("Bridges heard"));
  if (f.bridges.empty()) {
    html += QStringLiteral("<p>none</p>");
  } else {
    html += QStringLiteral("<table cellspacing='0' cellpadding='3' border='1' width='100%'>"
                           "<tr><th>Bridge</th><th>Version</th><th>Type</th><th>Level</th><th>Last seen (UTC)</th></tr>");
    for (const TReportBridge& bridge : f.bridges)
      html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>")
                  .arg(Html(bridge.id), Html(bridge.version),
                       bridge.type ? QString::number(*bridge.type) : kNotRead,
                       bridge.level ? QStringLiteral("%1 dBm").arg(*bridge.level) : kNotRead, Html(bridge.lastSeen));
    html += QStringLiteral("</table>");
  }
  html += QStringLiteral("</body></html>");
  return html;
}

bool SaveInstallationReport(const TReportFacts& facts, const std::string& pdfPath, std::string& error) {
  const QString pdfName = ToQString(pdfPath);
  const QString jsonName = pdfName + QStringLiteral(".json");
  if (pdfName.isEmpty()) return Fail(error, pdfName, QStringLiteral("no file name"));
  if (QFileInfo(pdfName).isDir()) return Fail(error, pdfName, QStringLiteral("is a folder"));

  QSaveFile json(jsonName);
  if (!json.open(QIODevice::WriteOnly)) return Fail(error, jsonName, json.errorString());
  const QByteArray jsonBytes = ReportJson(facts);
  if (json.write(jsonBytes) != jsonBytes.size()) return Fail(error, jsonName, json.errorString());

  QSaveFile pdf(pdfName);
  if (!pdf.open(QIODevice::WriteOnly)) return Fail(error, pdfName, pdf.errorString());
  {
    QPdfWriter writer(&pdf);
    writer.setTitle(QStringLiteral("Installation report"));
    writer.setCreator(QStringLiteral("Qel Orvane Monitor ") + ToQString(facts.toolVersion));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                     QPageLayout::Millimeter));
    QTextDocument document;
    if (facts.mapAvailable) document.addResource(QTextDocument::ImageResource, QUrl(kMapResource), facts.mapPicture);
    document.setHtml(ReportHtml(facts));
    document.print(&writer);
  }
  if (pdf.error() != QFileDevice::NoError) return Fail(error, pdfName, pdf.errorString());
  // The JSON goes into place first: a PDF never stands without its facts.
  if (!json.commit()) return Fail(error, jsonName, json.errorString());
  if (!pdf.commit()) return Fail(error, pdfName, pdf.errorString());
  return true;
}
