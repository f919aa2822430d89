// A settings file that cannot be read or written: the window starts with what
// can be read, says once which file is wrong, and a later failed write shows
// in the status line instead of ending the program. The file is never touched.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>

#include "FOvMonitor.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

namespace {

std::string FileText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(SettingsProblems, AFileThatCannotBeReadOrWrittenNeverStopsTheWindow) {
  const std::string good =
      "ORVANE SETTINGS HIVE 1\n[Software\\Qel\\Orvane Monitor]\n\"Auto register\"=\"1\"\n"
      "[Software\\Qel\\Orvane Monitor\\Endpoints]\n\"Version host\"=\"127.0.0.1:1\"\n";
  const struct {
    const char* what;
    std::string text;
    bool lockIsAFolder;  // no write can take the lock, as in a folder the user cannot write
    const char* reason;
  } cases[] = {
      {"hand edit", good + "\"X\"=\"C:\\dir\"\n", false, "line 6: unknown escape \\d"},
      {"writes refused", good, true, "Is a directory"},
  };
  const QByteArray savedDir = qgetenv("ORVANE_SETTINGS_DIR");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir folder;
    qputenv("ORVANE_SETTINGS_DIR", folder.path().toLocal8Bit());
    const std::string file = folder.filePath(QStringLiteral("settings.reg")).toStdString();
    std::ofstream(file, std::ios::binary) << c.text;
    if (c.lockIsAFolder) {
      ASSERT_TRUE(QDir().mkdir(folder.filePath(QStringLiteral("settings.reg.lock"))));
    }

    std::vector<std::string> shown;
    testing::internal::CaptureStderr();
    {
      TFOvMonitor window;
      window.SetSettingsProblemHandler([&](const std::string& text) { shown.push_back(text); });
      QTest::qWait(20);
      // What could be read is used.
      EXPECT_TRUE(window.Form().cCloud_RegisterGW->isChecked());
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_NE(shown[0].find(file), std::string::npos) << shown[0];
      EXPECT_NE(shown[0].find(c.reason), std::string::npos) << shown[0];
      // Two changes that cannot be kept: the status line says so each time.
      for (int i = 0; i < 2; ++i) {
        window.Form().cCloud_RegisterGW->click();
        EXPECT_NE(window.Form().vStatus->Caption().find(file), std::string::npos);
        EXPECT_EQ(window.Form().vStatus->ColorOn(), clRed);
      }
      EXPECT_EQ(shown.size(), 1u);
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    // Once at start, once for the failed writes.
    EXPECT_EQ(Count(errors, file), 2) << errors;
    EXPECT_EQ(FileText(file), c.text);
  }
  qputenv("ORVANE_SETTINGS_DIR", savedDir);
}

}  // namespace
