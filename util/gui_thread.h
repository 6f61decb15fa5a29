// Long work runs on a worker thread while the window keeps painting; the
// widgets and the message boxes stay on the window's thread. These helpers
// carry one call over to the thread of a Qt object and wait for it there, so
// the worker sees every step in the same order as if it ran on the window.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <type_traits>
#include <utility>

#include "util/prompter.h"

namespace brenvo {

// Runs f on ctx's thread and returns its result. Called on that thread, it
// is a plain call; from another thread the caller waits until f has run. The
// thread of ctx must not itself be waiting for the caller.
template <typename F>
auto OnGuiThread(QObject* ctx, F&& f) -> decltype(f()) {
  using R = decltype(f());
  if (!ctx) ctx = QCoreApplication::instance();
  if (!ctx || QThread::currentThread() == ctx->thread()) return f();
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(ctx, std::forward<F>(f), Qt::BlockingQueuedConnection);
  } else {
    R result{};
    QMetaObject::invokeMethod(ctx, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

// Posts f to ctx's thread without waiting. Calls posted from one thread run
// in the order they were posted, also among OnGuiThread calls.
template <typename F>
void PostToGuiThread(QObject* ctx, F&& f) {
  if (!ctx) ctx = QCoreApplication::instance();
  if (!ctx || QThread::currentThread() == ctx->thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(ctx, std::forward<F>(f), Qt::QueuedConnection);
}

// A Prompter whose messages and questions always happen on ctx's thread:
// a worker asking waits there for the answer.
class GuiThreadPrompter : public Prompter {
 public:
  GuiThreadPrompter(QObject* ctx, Prompter& inner) : ctx_(ctx), inner_(inner) {}
  void Message(const std::string& text, const std::string& title, Icon icon) override {
    OnGuiThread(ctx_, [&] { inner_.Message(text, title, icon); });
  }
  bool Ask(const std::string& text, const std::string& title, Icon icon, bool defaultNo) override {
    return OnGuiThread(ctx_, [&] { return inner_.Ask(text, title, icon, defaultNo); });
  }

 private:
  QObject* ctx_;
  Prompter& inner_;
};

}  // namespace brenvo
