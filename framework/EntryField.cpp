#include "EntryField.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "Ansi.h"

namespace vardelio {

namespace {

// Of the keys outside the printable range, only these type a character into a field; the
// rest move the caret or the focus, or edit, whatever control character the platform
// attaches (X11 sends Tab as U+0009 and Delete as U+007F). A key the platform could not name
// (Qt::Key_unknown) still types the printable text it carries.
bool IsTypingKey(int key, const QString& text) {
  if (key < Qt::Key_Escape) return true;
  if (key == Qt::Key_Backspace || key == Qt::Key_Return || key == Qt::Key_Enter ||
      key == Qt::Key_Escape) {
    return true;
  }
  return !text.isEmpty() && text.front().isPrint();
}

}  // namespace

QChar TypedCharacter(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers = event.modifiers();
  const int key = event.key();
  const QString text = event.text();
  if (!IsTypingKey(key, text)) return QChar();
  if ((modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier) && key >= Qt::Key_A &&
      key <= Qt::Key_Z) {
    return QChar(key - Qt::Key_A + 1);
  }
  return text.isEmpty() ? QChar() : text.front();
}

TEntryKeys::TEntryKeys(QLineEdit* field) : QObject(field), field_(field) {
  // Input methods would deliver text that no key-press handler sees.
  field->setAttribute(Qt::WA_InputMethodEnabled, false);
  field->installEventFilter(this);
}

bool TEntryKeys::eventFilter(QObject* watched, QEvent* event) {
  if (watched != field_ || event->type() != QEvent::KeyPress || replaying_) return false;
  return FilterKeyPress(static_cast<QKeyEvent&>(*event));
}

bool TEntryKeys::FilterKeyPress(QKeyEvent& event) {
  const QChar typed = TypedCharacter(event);
  if (typed.isNull()) return false;
  QChar key = typed;
  onKeyPress_(field_, key);
  if (key.isNull()) return true;
  if (OverTypingLimit(key)) return true;
  if (key == typed) return false;
  // The handler replaced the character: let the field type the replacement instead.
  QKeyEvent replacement(QEvent::KeyPress, 0, Qt::NoModifier, QString(key));
  replaying_ = true;
  QCoreApplication::sendEvent(field_, &replacement);
  replaying_ = false;
  return true;
}

bool TEntryKeys::OverTypingLimit(QChar typed) const {
  if (typingLimit_ <= 0 || typed.unicode() < 0x20 || typed.unicode() == 0x7F) return false;
  return field_->text().size() - field_->selectedText().size() >= typingLimit_;
}

TEntryKeys& EntryKeys(QLineEdit* field) {
  if (auto* existing = field->findChild<TEntryKeys*>(QString(), Qt::FindDirectChildrenOnly)) {
    return *existing;
  }
  return *new TEntryKeys(field);
}

void ShowInUpperCase(QLineEdit* field) {
  QObject::connect(field, &QLineEdit::textChanged, field, [field](const QString& text) {
    QString upper = text;
    // Character by character, so the length and the cursor position stay as they are; a
    // capital the line cannot carry (µ, ƒ) would be sent as "?", so the letter stays.
    for (QChar& c : upper) {
      if (const QChar capital = c.toUpper(); IsAnsi(capital)) c = capital;
    }
    if (upper == text) return;
    const int cursor = field->cursorPosition();
    field->setText(upper);
    field->setCursorPosition(cursor);
  });
}

}  // namespace vardelio
