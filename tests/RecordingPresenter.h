#pragma once
// Records message boxes and beeps instead of showing them; installed for its lifetime.

#include <QString>
#include <QStringList>

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
  void ShowPlain(const QString& caption, const QString& text) override {
    captions.append(caption);
    messages.append(text);
  }
  void Beep() override { ++beeps; }
  int Ask(const QString& caption, const QString& text, const QStringList& buttons) override {
    captions.append(caption);
    questions.append(text);
    return answer < 0 ? int(buttons.size()) - 1 : answer;
  }

  QStringList captions;
  QStringList errors;
  QStringList messages;
  QStringList questions;
  int answer = 1;  // the button a question is answered with; -1: the last
  int beeps = 0;

 private:
  TMessagePresenter* previous_;
};

}  // namespace vardelio::test
