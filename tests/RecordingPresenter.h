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

  QStringList captions;
  QStringList errors;
  QStringList messages;
  int beeps = 0;

 private:
  TMessagePresenter* previous_;
};

}  // namespace vardelio::test
