// The program's start: one copy per user, the self-update and the sign-in
// (Main, app/start_up.h), then the console window on the user's own settings.
// BRENVO_SETTINGS_DIR points the settings at another folder (demo, tests);
// BRENVO_SCREENSHOT=FILE.png saves a picture of the window and quits (the
// window is never usable then, so the start-up chain is not run).
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include "app/frm_main.h"
#include "app/qt_prompter.h"
#include "app/start_up.h"
#include "screen/console.h"
#include "util/settings_store.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  brenvo::InstallQtKorean(app);
  auto settings = brenvo::MakeIniSettingsStore(qEnvironmentVariable("BRENVO_SETTINGS_DIR").toStdString());
  const QString shot = qEnvironmentVariable("BRENVO_SCREENSHOT");
  brenvo::QtPrompter startPrompter(nullptr, brenvo::kProgramTitle);
  auto startUp = brenvo::ProgramStartUp(startPrompter, *settings, BRENVO_VERSION_PATCH);
  if (shot.isEmpty() && !brenvo::Main(*startUp)) return 0;
  brenvo::FrmMain window(*settings, nullptr, QCoreApplication::applicationDirPath().toStdString());
  window.show();
  if (!shot.isEmpty()) {
    QTimer::singleShot(1200, &window, [&] {
      window.grab().save(shot);
      app.quit();
    });
  }
  return app.exec();
}
