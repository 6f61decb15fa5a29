// The program's start: one copy per user, the self-update and the sign-in
// (Main, app/start_up.h), then the console window on the user's own settings.
// BRENVO_SETTINGS_DIR points the settings at another folder (demo, tests);
// BRENVO_SCREENSHOT=FILE.png saves a picture of the window and quits (the
// window is never usable then, so the start-up chain is not run).
// With BRENVO_SCREENSHOT_RUN=N as well, the window starts the copy run of
// its settings at once, answering Yes to every question, saves FILE.png N
// seconds later and FILE-summary.png when the run has ended, then quits.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "app/frm_main.h"
#include "app/qt_prompter.h"
#include "app/start_up.h"
#include "screen/console.h"
#include "util/settings_store.h"

namespace {

// The person at the screen of a screenshot run: Yes to everything, messages
// on standard error.
class YesPrompter : public brenvo::Prompter {
 public:
  void Message(const std::string& text, const std::string&, brenvo::Icon) override {
    std::fprintf(stderr, "[message] %s\n", text.c_str());
  }
  bool Ask(const std::string& text, const std::string&, brenvo::Icon, bool) override {
    std::fprintf(stderr, "[question, yes] %s\n", text.c_str());
    return true;
  }
};

void Save(QWidget& w, const QString& file) {
  if (!w.grab().save(file)) std::fprintf(stderr, "screenshot: cannot write %s\n", file.toLocal8Bit().constData());
}

QString SummaryName(const QString& shot) {
  QFileInfo f(shot);
  return f.dir().filePath(f.completeBaseName() + "-summary." + (f.suffix().isEmpty() ? "png" : f.suffix()));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  brenvo::InstallQtKorean(app);
  auto settings = brenvo::MakeIniSettingsStore(qEnvironmentVariable("BRENVO_SETTINGS_DIR").toStdString());
  const QString shot = qEnvironmentVariable("BRENVO_SCREENSHOT");
  const QString runFor = qEnvironmentVariable("BRENVO_SCREENSHOT_RUN");
  brenvo::QtPrompter startPrompter(nullptr, brenvo::kProgramTitle);
  auto startUp = brenvo::ProgramStartUp(startPrompter, *settings, BRENVO_VERSION_PATCH);
  if (shot.isEmpty() && !brenvo::Main(*startUp)) return 0;
  YesPrompter yes;
  const bool run = !shot.isEmpty() && !runFor.isEmpty();
  brenvo::FrmMain window(*settings, run ? &yes : nullptr, QCoreApplication::applicationDirPath().toStdString());
  window.show();
  if (run) {
    const int ms = static_cast<int>(runFor.toDouble() * 1000);
    QTimer::singleShot(500, &window, [&] { window.cmdStart_Click(); });
    QTimer::singleShot(500 + ms, &window, [&] {
      if (!window.Busy()) std::fprintf(stderr, "screenshot: the run ended before %d ms\n", ms);
      else Save(window, shot);
    });
    QObject::connect(&window, &brenvo::FrmMain::jobFinished, &window, [&] {
      QTimer::singleShot(300, &window, [&] {
        Save(window, SummaryName(shot));
        app.quit();
      });
    });
  } else if (!shot.isEmpty()) {
    QTimer::singleShot(1200, &window, [&] {
      Save(window, shot);
      app.quit();
    });
  }
  return app.exec();
}
