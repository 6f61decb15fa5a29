#include "app/qt_prompter.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include "util/gui_thread.h"

namespace brenvo {
namespace {

QMessageBox::Icon ToQt(Icon icon) {
  switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Exclamation: return QMessageBox::Warning;
    case Icon::Critical: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    case Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

// The engine's texts break lines with CR LF; a label wants LF alone.
QString Display(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace("\r\n", "\n");
  return s;
}

}  // namespace

bool InstallQtKorean(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QLocale(QLocale::Korean, QLocale::SouthKorea), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

// Message boxes belong to the window thread (the application's when there is
// no window yet); work running on a worker thread waits there for the answer.
void QtPrompter::Message(const std::string& text, const std::string& title, Icon icon) {
  OnGuiThread(parent_, [&] {
    QMessageBox box(ToQt(icon), Display(title.empty() ? title_ : title), Display(text), QMessageBox::Ok, parent_);
    box.exec();
  });
}

bool QtPrompter::Ask(const std::string& text, const std::string& title, Icon icon, bool defaultNo) {
  return OnGuiThread(parent_, [&] {
    QMessageBox box(ToQt(icon), Display(title.empty() ? title_ : title), Display(text),
                    QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
  });
}

}  // namespace brenvo
