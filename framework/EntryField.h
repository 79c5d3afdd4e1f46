#pragma once
// Key-press handlers, typing limits and upper-case display for single-line entry fields.

#include <QChar>
#include <QObject>

#include "Handler.h"

class QKeyEvent;
class QLineEdit;

namespace vardelio {

// Sees a typed character before the field does; setting it to 0 discards the keystroke.
using TKeyPressEvent = THandler<QChar&>;

// The character a keystroke types, as the field would receive it: Ctrl+letter gives its
// control code (Ctrl+V is 22); navigation and editing keys (Tab, Delete, arrows, Home, End)
// give a null character, whatever control character the platform reports for them; a key
// without a code of its own (Qt::Key_unknown) types the printable text it carries.
QChar TypedCharacter(const QKeyEvent& event);

// Watches one field's keystrokes; owned by the field.
class TEntryKeys : public QObject {
  Q_OBJECT
 public:
  explicit TEntryKeys(QLineEdit* field);

  void SetOnKeyPress(TKeyPressEvent handler) { onKeyPress_ = std::move(handler); }
  // Most characters that typing may leave in the field; 0 = no limit. Text set by
  // the program or pasted is not limited.
  void SetTypingLimit(int limit) { typingLimit_ = limit; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool FilterKeyPress(QKeyEvent& event);
  bool OverTypingLimit(QChar typed) const;

  QLineEdit* field_;
  TKeyPressEvent onKeyPress_;
  int typingLimit_ = 0;
  bool replaying_ = false;
};

// The entry's keystroke handling, created on first use.
TEntryKeys& EntryKeys(QLineEdit* field);

// Letters show in upper case however they got into the field.
void ShowInUpperCase(QLineEdit* field);

}  // namespace vardelio
