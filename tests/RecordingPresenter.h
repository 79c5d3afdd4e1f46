#pragma once
// Records message boxes and beeps instead of showing them; installed for its lifetime.

#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

#include "TestPrinters.h"

#include "framework/Dialogs.h"

namespace vardelio::test {

class TRecordingPresenter : public TMessagePresenter {
 public:
  TRecordingPresenter() : previous_(SetMessagePresenter(this)) {}
  ~TRecordingPresenter() override { SetMessagePresenter(previous_); }

  void ShowError(const QString& caption, const QString& text) override {
    captions.append(caption);
    errors.append(text);
  }
  void ShowExplainedError(const QString& caption, const QString& text,
                          const QString& explanation) override {
    ShowError(caption, text);
    explanations.append(explanation);
  }
  void ShowPlain(const QString& caption, const QString& text) override {
    captions.append(caption);
    messages.append(text);
  }
  void Beep() override { ++beeps; }
  int Ask(const QString& caption, const QString& text, const QStringList& buttons) override {
    captions.append(caption);
    questions.append(text);
    // A real box runs its own event loop: what it lets in is run here, once.
    if (auto during = std::exchange(whileAsking, nullptr)) during();
    return answer < 0 ? int(buttons.size()) - 1 : answer;
  }

  QStringList captions;
  QStringList errors;
  QStringList explanations;  // those of the explained errors, in order
  QStringList messages;
  QStringList questions;
  int answer = 1;  // the button a question is answered with; -1: the last
  std::function<void()> whileAsking;
  int beeps = 0;

 private:
  TMessagePresenter* previous_;
};

}  // namespace vardelio::test
