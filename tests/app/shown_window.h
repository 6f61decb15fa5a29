// A console window on settings of its own, shown offscreen, its messages
// and questions scripted.
#pragma once

#include <QCoreApplication>
#include <memory>

#include "app/frm_main.h"
#include "support/test_support.h"

namespace brenvo::test {

struct ShownWindow {
  ShownWindow() {
    w.show();
    QCoreApplication::processEvents();
  }
  TempDir dir;
  std::unique_ptr<SettingsStore> store = MakeIniSettingsStore(dir.str());
  ScriptedPrompter prompter;
  FrmMain w{*store, &prompter, dir.str()};
};

}  // namespace brenvo::test
