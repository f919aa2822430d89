// "Save report..." (and Ctrl+S) on the window, "Save profile..." on the
// parameters tab: the two ways the window's knowledge leaves it as a file.
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>

#include "FOvMonitor.h"
#include "GatewayParameters.h"
#include "ParameterProfile.h"
#include "ReportFile.h"
#include "support/MyFunctions.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

namespace {

void ShowOutcome(TLedPanel* status, bool ok, const std::string& text) {
  status->SetCaption(" " + text);
  status->TriggerColor(ok ? clLime : clRed);
}

}  // namespace

void TFOvMonitor::CreateReportControls() {
  // Between the acknowledgement lamp and "Refresh", where the layout has room.
  auto* saveReport = new QPushButton(QStringLiteral("Save report\u2026"), this);  // owned by the window
  saveReport->setObjectName(QStringLiteral("bSaveReport"));
  saveReport->setGeometry(348, 4, 84, 25);
  saveReport->setToolTip(QStringLiteral("Write an installation report (PDF and JSON) (Ctrl+S)"));
  connect(saveReport, &QPushButton::clicked, this, &TFOvMonitor::bSaveReportClick);
  auto* shortcut = new QShortcut(QKeySequence::Save, this);
  connect(shortcut, &QShortcut::activated, this, &TFOvMonitor::bSaveReportClick);

  auto* saveProfile = new QPushButton(QStringLiteral("Save profile\u2026"), ui->tCellular);
  saveProfile->setObjectName(QStringLiteral("bSaveProfile"));
  saveProfile->setGeometry(404, 190, 100, 26);
  connect(saveProfile, &QPushButton::clicked, this, &TFOvMonitor::bSaveProfileClick);
  auto* secrets = new QCheckBox(QStringLiteral("Store SIM PIN and WiFi password in the profile, in clear"), ui->tCellular);
  secrets->setObjectName(QStringLiteral("cProfile_Secrets"));
  secrets->setGeometry(8, 222, 480, 20);

  m_saveFileQuery = [this](const std::string& title, const std::string& filter) {
    return FromQString(QFileDialog::getSaveFileName(this, ToQString(title), QString(), ToQString(filter)));
  };
}

void TFOvMonitor::bSaveReportClick() {
  std::string file = m_saveFileQuery("Save report", "PDF report (*.pdf)");
  if (file.empty()) return;
  if (!QString::fromStdString(file).endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) file += ".pdf";
  std::string error;
  if (SaveInstallationReport(GatherReportFacts(*this), file, error))
    ShowOutcome(ui->vStatus, true, "Report written: " + file);
  else
    ShowOutcome(ui->vStatus, false, "Report not written: " + error);
}

std::vector<TParameterSetting> TFOvMonitor::ProfileSettings(bool withSecrets) const {
  std::vector<TParameterSetting> settings;
  const auto add = [&](int number, const std::string& value) {
    if (!value.empty()) settings.push_back({number, value});
  };
  add(kApn, EditBytes(ui->eAPN));
  if (ui->cServer->currentIndex() > 0) add(kServerName, FromQString(ui->cServer->currentText()));
  add(kOwnerAccount, EditBytes(ui->eOwnerID));
  add(kWifiSsid, EditBytes(ui->eWiFi_SSID));
  if (withSecrets) {
    add(kWifiPassword, EditBytes(ui->eWiFi_Password));
    add(kSimPin, EditBytes(ui->eSIMPin));
  }
  return settings;
}

void TFOvMonitor::bSaveProfileClick() {
  const auto* secrets = findChild<QCheckBox*>(QStringLiteral("cProfile_Secrets"));
  const std::vector<TParameterSetting> settings = ProfileSettings(secrets && secrets->isChecked());
  if (settings.empty()) {
    ShowOutcome(ui->vStatus, false, "Profile: no parameter has been read");
    return;
  }
  const std::string file = m_saveFileQuery("Save profile", "Parameter profile (*.profile *.txt);;All files (*)");
  if (file.empty()) return;
  const std::string comment = "Gateway parameters read from " + TextOrDefault(ui->vGWID->Caption(), "a gateway") +
                              " by Qel Orvane Monitor " + AppVersion;
  const std::string text = ParameterProfileText(settings, comment);
  QSaveFile out(ToQString(file));
  // A profile with a password in it is for its owner's eyes only: the temporary
  // file is made private before anything is in it, and the file again once named.
  const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  bool written = out.open(QIODevice::WriteOnly);
  if (written) out.setPermissions(ownerOnly);  // where the platform allows; the named file is set below
  written = written &&
            out.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
            out.commit() && QFile::setPermissions(ToQString(file), ownerOnly);
  if (written)
    ShowOutcome(ui->vStatus, true, "Profile written: " + file);
  else
    ShowOutcome(ui->vStatus, false, "Profile not written: " + file + ": " + FromQString(out.errorString()));
}
