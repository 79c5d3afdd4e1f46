#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QtTest/QTest>

#include "framework/EntryField.h"

using namespace vardelio;

namespace {

TEST(TypedCharacter, IsWhatTheKeystrokeTypes) {
  const struct {
    QKeyEvent event;
    char16_t expected;
  } cases[] = {
      {{QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "b"}, u'b'},
      {{QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, "v"}, 22},
      {{QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, ""}, 3},
      {{QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, "\b"}, 8},
      {{QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r"}, 13},
      {{QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, ""}, 0},
      {{QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, ""}, 0},
      // What the X11 platform attaches to navigation and editing keys.
      {{QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, "\x7f"}, 0},
      {{QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, "\t"}, 0},
      {{QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier, "\t"}, 0},
      {{QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier, ""}, 0},
      {{QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, "\x1b"}, 27},
      {{QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier, "\r"}, 13},
      // A letter the platform has no key code for still types its text.
      {{QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("ł")}, 0x142},
      {{QEvent::KeyPress, Qt::Key(0x141), Qt::NoModifier, QString::fromUtf8("ł")}, 0x142},
      {{QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier, ""}, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TypedCharacter(c.event).unicode(), c.expected);
}

TEST(EntryKeys, AHandlerMayReplaceTheCharacter) {
  QLineEdit field;
  EntryKeys(&field).SetOnKeyPress(TKeyPressEvent([](QObject*, QChar& key) {
    if (key == u'x') key = u'#';
  }));
  QTest::keyClicks(&field, "axb");
  EXPECT_EQ(field.text(), "a#b");
  EXPECT_EQ(&EntryKeys(&field), &EntryKeys(&field));  // one watcher per field
}

TEST(EntryKeys, TheTypingLimitCountsASelectionAsReplaced) {
  QLineEdit field;
  EntryKeys(&field).SetTypingLimit(3);
  QTest::keyClicks(&field, "12345");
  EXPECT_EQ(field.text(), "123");
  field.selectAll();
  QTest::keyClicks(&field, "9");
  EXPECT_EQ(field.text(), "9");
}

TEST(UpperCase, AppliesToProgramTextAndKeepsTheCursor) {
  QLineEdit field;
  ShowInUpperCase(&field);
  field.setText(QStringLiteral("abc,d"));
  EXPECT_EQ(field.text(), "ABC,D");
  field.setCursorPosition(2);
  QTest::keyClicks(&field, "x");
  EXPECT_EQ(field.text(), "ABXC,D");
  EXPECT_EQ(field.cursorPosition(), 3);
  field.setText(QString::fromUtf8("straße"));
  EXPECT_EQ(field.text(), QString::fromUtf8("STRAßE"));  // one character stays one character
  // Capitals the line's code page lacks would go out as "?": those letters stay small.
  field.setText(QString::fromUtf8("µƒÿé"));
  EXPECT_EQ(field.text(), QString::fromUtf8("µƒŸÉ"));
}

}  // namespace
