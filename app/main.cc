// The program's start: the console window on the user's own settings.
// BRENVO_SETTINGS_DIR points the settings at another folder (demo, tests);
// BRENVO_SCREENSHOT=FILE.png saves a picture of the window and quits.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include "app/frm_main.h"
#include "util/settings_store.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  auto settings = brenvo::MakeIniSettingsStore(qEnvironmentVariable("BRENVO_SETTINGS_DIR").toStdString());
  brenvo::FrmMain window(*settings, nullptr, QCoreApplication::applicationDirPath().toStdString());
  window.show();
  const QString shot = qEnvironmentVariable("BRENVO_SCREENSHOT");
  if (!shot.isEmpty()) {
    QTimer::singleShot(1200, &window, [&] {
      window.grab().save(shot);
      app.quit();
    });
  }
  return app.exec();
}
