// The window as a technician's hand meets it: controls that stay where they
// are whatever the direction, and message boxes whose buttons speak Korean.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <map>

#include "app/frm_main.h"
#include "app/qt_prompter.h"
#include "shown_window.h"

namespace brenvo {
namespace {

TEST(FrmMainLayout, EveryControlStaysPutInAllThreeDirections) {
  test::ShownWindow t;
  FrmMain& w = t.w;
  test::ScriptedPrompter& prompter = t.prompter;

  auto geometry = [&w] {
    std::map<QString, QRect> out;
    int n = 0;
    for (QWidget* c : w.findChildren<QWidget*>()) {
      // Name each control by its kind, its text and its place in the tree.
      QString key = QString::number(n++) + ":" + c->metaObject()->className();
      if (auto* b = qobject_cast<QAbstractButton*>(c)) key += ":" + b->text();
      out[key] = QRect(c->mapTo(&w, QPoint(0, 0)), c->size());
    }
    return out;
  };
  w.controls().optDB[0]->click();
  QCoreApplication::processEvents();
  ASSERT_FALSE(w.controls().lblTip->isHidden());
  const auto first = geometry();
  ASSERT_GT(first.size(), 30u);
  for (int d : {1, 2, 0}) {
    prompter.clear();
    w.controls().optDB[d]->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(w.controls().lblTip->isHidden(), d != 0);
    const auto now = geometry();
    ASSERT_EQ(now.size(), first.size());
    for (const auto& [name, rect] : first)
      EXPECT_EQ(now.at(name), rect) << "direction " << d << " moved " << name.toStdString();
  }
}

TEST(QtKorean, StandardButtonsAreKorean) {
  ASSERT_TRUE(InstallQtKorean(*QCoreApplication::instance())) << "Qt's Korean translations are not installed";
  QMessageBox box(QMessageBox::NoIcon, "t", "x",
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
  // Korean texts carry their access key in brackets: "예(&Y)" shows as 예(Y).
  auto shown = [&box](QMessageBox::StandardButton b) {
    return box.button(b)->text().remove(QRegularExpression("\\(&.\\)")).remove('&');
  };
  EXPECT_EQ(shown(QMessageBox::Yes), QString::fromUtf8("예"));
  EXPECT_EQ(shown(QMessageBox::No), QString::fromUtf8("아니요"));
  EXPECT_EQ(shown(QMessageBox::Ok), QString::fromUtf8("확인"));
  EXPECT_EQ(shown(QMessageBox::Cancel), QString::fromUtf8("취소"));
}

}  // namespace
}  // namespace brenvo
