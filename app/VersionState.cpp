// The software version check and its panel pAppVer: at most once a week on
// its own, at any time on a click, the published version file is fetched on a
// worker thread and the answer is stored and shown in the GUI thread.
#include <QDesktopServices>
#include <QUrl>

#include "FOvMonitor.h"
#include "cloud/MyThread_Web.h"
#include "cloud/VersionCheck.h"
#include "support/MyRegIniExtended.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"
#include "widgets/QtText.h"

void TFOvMonitor::ShowVersionState() {
  TLedPanel* panel = ui->pAppVer;
  switch (RefreshVersionState(*Settings, AppVersion)) {
    case vsNewer:
      panel->SetCaption("Newer version is available");
      panel->SwitchOn(clLime);
      panel->setCursor(Qt::PointingHandCursor);
      break;
    case vsUpToDate:
      panel->SetCaption("Software is up to date");
      panel->unsetCursor();
      break;
    case vsUnknown:
      panel->SetCaption("");
      panel->unsetCursor();
      break;
  }
  panel->SetAutoTrigger(false);
}

void TFOvMonitor::CheckVersion(bool force) {
  const int today = TodayNumber();
  ShowVersionState();
  if (!ClaimVersionCheck(*Settings, today, force)) return;
  TAsyncWebRequest::Start(
      std::string(), FromQString(windowTitle()),
      [this](TAsyncWebRequest&, const std::string&, std::int32_t statusCode, const std::string& body) {
        OnVersionAnswer(statusCode, body);
      },
      VersionFileURL(*Settings), this, kVersionDeadlineMs, kVersionMaxAnswerBytes);
}

void TFOvMonitor::OnVersionAnswer(int statusCode, const std::string& body) {
  if (StoreVersionAnswer(*Settings, statusCode, body)) ShowVersionState();
}

void TFOvMonitor::pAppVerClick() {
  TLedPanel* panel = ui->pAppVer;
  if (panel->LedType() == ltOn) {
    QDesktopServices::openUrl(QUrl(ToQString(DownloadURL(*Settings))));
    return;
  }
  panel->SetCaption("Checking...");
  panel->SetAutoTrigger(true);
  panel->TriggerColor(clAqua);
  CheckVersion(true);
}
