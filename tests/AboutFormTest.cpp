#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>

#include "RecordingPresenter.h"
#include "app/AboutForm.h"
#include "app/MainForm.h"

using namespace vardelio;
using vardelio::test::TRecordingPresenter;

namespace {

class AboutBox : public ::testing::Test {
 protected:
  AboutBox() { form.SetAboutBox(&about); }

  // Runs `whileOpen` once the box is up, then closes it with `close`; returns what
  // the box showed.
  QStringList ShowAndClose(const std::function<void()>& close) {
    QStringList seen;
    QTimer::singleShot(0, &about, [&] {
      seen << (QApplication::activeModalWidget() == &about ? "modal" : "not modal");
      for (QLabel* label : about.findChildren<QLabel*>()) {
        seen << label->objectName() + "=" + label->text() +
                    (label->pixmap().isNull() ? "" : " [picture]");
      }
      close();
    });
    form.findChild<QAction*>(QStringLiteral("Acerdade1"))->trigger();
    return seen;
  }

  TRecordingPresenter boxes;
  TForm1 form;
  TAboutForm about;
};

TEST_F(AboutBox, IsModalAndShowsTheSameContentsEveryTime) {
  form.show();
  const QStringList first = ShowAndClose([&] {
    QTest::keyClick(about.findChild<QPushButton*>(QStringLiteral("OKButton")), Qt::Key_Return);
  });
  EXPECT_FALSE(about.isVisible());
  const QStringList second = ShowAndClose([&] { about.close(); });  // the close box
  EXPECT_EQ(first.value(0), "modal");
  EXPECT_EQ(first, second);
  EXPECT_TRUE(first.contains("ProductName=Vardelio"));
  EXPECT_TRUE(first.contains("ProgramIcon= [picture]"));
  EXPECT_EQ(about.windowIcon().cacheKey(), form.windowIcon().cacheKey());  // the program's icon
  EXPECT_FALSE(form.windowIcon().isNull());
  EXPECT_TRUE(boxes.errors.isEmpty());
  // The main window is usable again.
  auto* edit1 = form.findChild<QLineEdit*>(QStringLiteral("Edit1"));
  QTest::keyClicks(edit1, "1B");
  EXPECT_EQ(edit1->text(), "1B");
}

TEST_F(AboutBox, EnterPressesOkWhichAcceptsAndEscapeDoesNothing) {
  bool openAfterEscape = false;
  QTimer::singleShot(0, &about, [&] {
    QTest::keyClick(&about, Qt::Key_Escape);
    openAfterEscape = about.isVisible();
    QTest::keyClick(&about, Qt::Key_Return);
  });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  EXPECT_TRUE(openAfterEscape);
}

TEST_F(AboutBox, ThePanelShowsALoweredOuterAndARaisedInnerBevel) {
  auto* panel = about.findChild<QFrame*>(QStringLiteral("Panel1"));
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->frameWidth(), 2);
  const QImage image = panel->grab().toImage();
  const auto lightness = [&](int x, int y) { return image.pixelColor(x, y).lightness(); };
  const int right = image.width() - 1;
  const int bottom = image.height() - 1;
  // Lowered outside: dark at the top left, light at the bottom right; raised inside: the reverse.
  EXPECT_LT(lightness(0, 40), lightness(1, 40));
  EXPECT_LT(lightness(40, 0), lightness(40, 1));
  EXPECT_GT(lightness(right, 40), lightness(right - 1, 40));
  EXPECT_GT(lightness(40, bottom), lightness(40, bottom - 1));
}

TEST_F(AboutBox, LaidOutAsItsForm) {
  EXPECT_EQ(about.windowTitle(), "Acerca de...");
  EXPECT_EQ(about.size(), QSize(304, 213));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_FALSE(about.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(about.windowFlags() & Qt::WindowMinimizeButtonHint);
  const struct {
    const char* name;
    QPoint at;
    QString text;
  } labels[] = {{"ProductName", {112, 16}, "Vardelio"},
                {"Version", {112, 40}, "Version 1.0"},
                {"Label2", {8, 96}, "Diseñado por:"},
                {"Label1", {8, 112}, "Quimbral"},
                {"Comments", {8, 128}, "http://www.quimbral.com.ar"}};
  for (const auto& l : labels) {
    auto* label = about.findChild<QLabel*>(QLatin1String(l.name));
    ASSERT_NE(label, nullptr) << l.name;
    EXPECT_EQ(label->pos(), l.at) << l.name;
    EXPECT_EQ(label->text(), l.text) << l.name;
    EXPECT_EQ(label->parentWidget()->objectName(), "Panel1") << l.name;
  }
  EXPECT_TRUE(about.findChild<QLabel*>(QStringLiteral("Label1"))->font().bold());
  EXPECT_TRUE(about.findChild<QLabel*>(QStringLiteral("Comments"))->wordWrap());
  auto* ok = about.findChild<QPushButton*>(QStringLiteral("OKButton"));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->geometry(), QRect(111, 180, 75, 25));
  EXPECT_TRUE(ok->isDefault());
  QStringList focusable;
  for (QWidget* w : about.findChildren<QWidget*>()) {
    if (w->focusPolicy() != Qt::NoFocus) focusable << w->objectName();
  }
  EXPECT_EQ(focusable, QStringList{"OKButton"});
}

// A window given no box builds its own on the first request, not before, and keeps it.
TEST(OwnAboutBox, BuiltOnFirstRequestAndReused) {
  TRecordingPresenter boxes;
  const auto aboutBoxes = [] {
    QList<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<TAboutForm*>(w) != nullptr) found << w;
    }
    return found;
  };
  TForm1 form;
  form.show();
  EXPECT_TRUE(aboutBoxes().isEmpty());
  QList<QWidget*> shown;
  for (int request = 0; request < 2; ++request) {
    QTimer::singleShot(0, &form, [&] {
      QWidget* box = QApplication::activeModalWidget();
      shown << box;
      if (box != nullptr) box->close();
    });
    form.findChild<QAction*>(QStringLiteral("Acerdade1"))->trigger();
  }
  ASSERT_EQ(aboutBoxes().size(), 1);
  EXPECT_EQ(shown, (QList<QWidget*>{aboutBoxes().first(), aboutBoxes().first()}));
  EXPECT_EQ(aboutBoxes().first()->windowTitle(), "Acerca de...");
  EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST(MainWindowClose, AltSClosesTheWindow) {
  TRecordingPresenter boxes;
  TForm1 form;
  form.show();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QTest::keyClick(form.findChild<QLineEdit*>(QStringLiteral("Edit1")), Qt::Key_S, Qt::AltModifier);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(boxes.beeps, 0);  // the shortcut, not a refused keystroke
}

}  // namespace
