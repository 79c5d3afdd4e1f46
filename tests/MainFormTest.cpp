#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

#include "RecordingPresenter.h"
#include "Waiting.h"
#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "app/Program.h"
#include "framework/Dialogs.h"
#include "framework/ShortCut.h"
#include "serial/ComPort.h"

using namespace vardelio;
using vardelio::test::TRecordingPresenter;

namespace {

class MainWindow : public ::testing::Test {
 protected:
  template <typename T = QWidget>
  T* Find(const char* name) {
    T* found = form.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  TRecordingPresenter boxes;
  TForm1 form;
};

struct Control {
  const char* name;
  const char* kind;
  const char* parent;  // "" = the window's client area
  QRect geometry;
};

const Control kControls[] = {
    {"Image1", "QLabel", "", {608, 24, 153, 49}},
    {"Bevel1", "QFrame", "", {600, 16, 169, 65}},
    {"Image2", "QLabel", "", {288, 312, 41, 41}},
    {"Image3", "QLabel", "", {288, 368, 41, 41}},
    {"Image4", "QLabel", "", {288, 424, 41, 41}},
    {"GroupBox2", "QGroupBox", "", {336, 288, 233, 193}},
    {"RadioButton5", "QRadioButton", "GroupBox2", {16, 32, 137, 33}},
    {"RadioButton6", "QRadioButton", "GroupBox2", {16, 88, 145, 33}},
    {"RadioButton7", "QRadioButton", "GroupBox2", {16, 144, 137, 33}},
    {"GroupBox3", "QGroupBox", "", {32, 104, 537, 169}},
    {"Edit2", "QLineEdit", "", {208, 176, 313, 28}},
    {"Edit3", "QLineEdit", "", {208, 216, 313, 28}},
    {"Edit1", "QLineEdit", "", {208, 136, 81, 28}},
    {"Memo1", "QPlainTextEdit", "", {24, 248, 561, 49}},
    {"GroupBox1", "QGroupBox", "", {32, 288, 217, 193}},
    {"RadioButton1", "QRadioButton", "GroupBox1", {16, 24, 161, 33}},
    {"RadioButton2", "QRadioButton", "GroupBox1", {16, 64, 169, 33}},
    {"RadioButton3", "QRadioButton", "GroupBox1", {16, 104, 161, 33}},
    {"RadioButton4", "QRadioButton", "GroupBox1", {16, 144, 153, 25}},
    {"BitBtn1_Enviar", "QPushButton", "", {616, 144, 137, 33}},
    {"BitBtn2_Recibir", "QPushButton", "", {616, 200, 137, 33}},
    {"ProgressBar1", "QProgressBar", "", {616, 264, 137, 17}},
};

TEST_F(MainWindow, ControlsStandWhereTheLayoutPutsThem) {
  QWidget* client = form.centralWidget();
  QWidget* previous = nullptr;
  for (const Control& c : kControls) {
    QWidget* w = Find(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->metaObject()->className(), c.kind) << c.name;
    QWidget* parent = *c.parent ? Find(c.parent) : client;
    EXPECT_EQ(w->parentWidget(), parent) << c.name;
    EXPECT_EQ(w->geometry(), c.geometry) << c.name;
    // Stacking order: each control of the client area lies above the ones before it.
    if (parent == client && previous != nullptr) {
      EXPECT_GT(client->children().indexOf(w), client->children().indexOf(previous)) << c.name;
    }
    if (parent == client) previous = w;
  }
}

TEST_F(MainWindow, LabelsSizeThemselvesToTheirText) {
  const struct {
    const char* name;
    const char* parent;
    QPoint at;
  } labels[] = {{"Label1", "GroupBox3", {8, 32}},
                {"Label2", "GroupBox3", {8, 72}},
                {"Label3", "GroupBox3", {8, 112}},
                {"Label4", "ClientArea", {96, 32}}};
  for (const auto& l : labels) {
    auto* label = Find<QLabel>(l.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget()->objectName(), l.parent) << l.name;
    EXPECT_EQ(label->pos(), l.at) << l.name;
    EXPECT_EQ(label->size(), label->sizeHint()) << l.name;
  }
}

TEST_F(MainWindow, CaptionsFontsAndHints) {
  const struct {
    const char* name;
    QString text;
    QString family;
    int pixels;
    QString hint;
  } cases[] = {
      {"Label4", "Vardelio:", "Arial", 37, ""},
      {"GroupBox2", "Bornera:", "Arial", 16, ""},
      {"RadioButton5", "Asalto", "Arial", 16, ""},
      {"RadioButton6", "Accidente", "Arial", 16, ""},
      {"RadioButton7", "Incendio", "Arial", 16, ""},
      {"GroupBox3", "Ingreso de Datos:", "MS Sans Serif", 16, ""},
      {"Label1", "N° de Abonado:", "Arial", 16, ""},
      {"Label2", "Teléfono Principal:", "Arial", 16, ""},
      {"Label3", "Teléfono de Respaldo:", "Arial", 16, ""},
      {"Edit1", "", "MS Sans Serif", 16,
       "Los datos válidos se encuentran comprendidos entre el 0-9 y de la B-F"},
      {"Edit2", "", "MS Sans Serif", 16,
       "Ingrese una ',' para obtener una pausa de discado de 2 segundos y medio"},
      {"Edit3", "", "MS Sans Serif", 16,
       "Ingrese una ',' para obtener una pausa de discado de 2 segundos y medio"},
      {"GroupBox1", "Informe de Test:", "Arial", 16, ""},
      {"RadioButton1", "Deshabilitado", "Arial", 16, ""},
      {"RadioButton2", "24 Hs", "Arial", 16, ""},
      {"RadioButton3", "7 Días", "Arial", 16, ""},
      {"RadioButton4", "30 Días", "Arial", 16, ""},
      {"BitBtn1_Enviar", "Enviar Programación", "MS Sans Serif", 11, "Envia la Programación"},
      {"BitBtn2_Recibir", "Recibir Programación", "MS Sans Serif", 11, "Recibe la Programación"},
  };
  for (const auto& c : cases) {
    QWidget* w = Find(c.name);
    ASSERT_NE(w, nullptr);
    QString text = w->property("text").toString();
    if (auto* box = qobject_cast<QGroupBox*>(w)) text = box->title();
    EXPECT_EQ(text, c.text) << c.name;
    EXPECT_EQ(w->font().family(), c.family) << c.name;
    EXPECT_EQ(qRound(w->font().pointSizeF() * 96 / 72), c.pixels) << c.name;  // at 96 dpi
    EXPECT_EQ(w->toolTip(), c.hint) << c.name;
  }
  EXPECT_TRUE(Find<QLabel>("Label4")->font().bold());
  const QImage drawn = Find<QLabel>("Label4")->grab().toImage();  // its text in pure blue
  int blue = 0;
  for (int y = 0; y < drawn.height(); ++y) {
    for (int x = 0; x < drawn.width(); ++x)
      blue += drawn.pixelColor(x, y) == QColor(Qt::blue);
  }
  EXPECT_GT(blue, 100);
  // Also while another window is active, as its style sheet had it in every state.
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    EXPECT_EQ(Find<QLabel>("Label4")->palette().color(group, QPalette::WindowText),
              QColor(Qt::blue))
        << group;
  }
}

// The window is built in its own default font, which then leaves the application: menus and
// boxes keep the font they had.
TEST_F(MainWindow, BuildingItLeavesTheApplicationFontAsItWas) {
  const QFont before = QApplication::font();
  EXPECT_NE(before.family(), "MS Sans Serif");
  TForm1 another;
  EXPECT_EQ(QApplication::font(), before);
  EXPECT_EQ(QApplication::font().resolveMask(), before.resolveMask());
  EXPECT_EQ(QMenu().font(), before);
  EXPECT_EQ(another.font().family(), "MS Sans Serif");
}

TEST_F(MainWindow, WindowStartsAsLaidOut) {
  EXPECT_EQ(form.windowTitle(), "Programador Vardelio");
  EXPECT_EQ(form.Tag(), 0);
  EXPECT_EQ(form.centralWidget()->size(), QSize(785, 496));
  EXPECT_EQ(form.statusBar()->objectName(), "StatusBar1");
  EXPECT_EQ(form.statusBar()->height(), 22);
  EXPECT_FALSE(form.statusBar()->isSizeGripEnabled());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form.windowIcon().isNull());
  form.show();
  EXPECT_EQ(form.minimumSize(), form.maximumSize());  // not resizable
  EXPECT_TRUE(Find("Memo1")->isHidden());
  EXPECT_TRUE(Find<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());
  auto* progress = Find<QProgressBar>("ProgressBar1");
  EXPECT_EQ(progress->minimum(), 0);
  EXPECT_EQ(progress->maximum(), 100);
  EXPECT_EQ(progress->value(), 0);
  ASSERT_NE(form.Timer1(), nullptr);
  EXPECT_EQ(form.Timer1()->objectName(), "Timer1");
  EXPECT_FALSE(form.Timer1()->isActive());
  EXPECT_EQ(form.Timer1()->interval(), 1000);
  form.grab();  // the pictures are decoded when first painted
  for (const char* picture : {"Image1", "Image2", "Image3", "Image4"}) {
    EXPECT_FALSE(Find<QLabel>(picture)->pixmap().isNull()) << picture;
  }
  EXPECT_TRUE(Find<QLabel>("Image2")->hasScaledContents());
  EXPECT_FALSE(Find<QLabel>("Image1")->hasScaledContents());
}

TEST_F(MainWindow, OpensCentredOnTheScreen) {
  form.show();
  const QPoint screenCentre = form.screen()->availableGeometry().center();
  EXPECT_LE((form.frameGeometry().center() - screenCentre).manhattanLength(), 2);
  // Where the operator put it, it stays when it is shown again (after a minimise, say).
  const QPoint centred = form.pos();
  form.move(centred + QPoint(-3, 23));
  ASSERT_TRUE(vardelio::test::ServeUntil([&] { return form.pos() != centred; }));
  const QPoint moved = form.pos();
  form.hide();
  form.show();
  QTest::qWait(0);
  EXPECT_EQ(form.pos(), moved);
}

TEST_F(MainWindow, EachRadioGroupHasExactlyOneCheckedButton) {
  const QList<QStringList> groups = {
      {"RadioButton5", "RadioButton6", "RadioButton7"},
      {"RadioButton1", "RadioButton2", "RadioButton3", "RadioButton4"}};
  auto checked = [&](const QStringList& group) {
    QStringList on;
    for (const QString& name : group) {
      if (form.findChild<QRadioButton*>(name)->isChecked()) on << name;
    }
    return on;
  };
  EXPECT_EQ(checked(groups[0]), QStringList{"RadioButton5"});
  EXPECT_EQ(checked(groups[1]), QStringList{"RadioButton1"});
  form.show();
  Find<QRadioButton>("RadioButton7")->setChecked(true);
  auto* third = Find<QRadioButton>("RadioButton3");
  QTest::mouseClick(third, Qt::LeftButton, {}, QPoint(8, third->height() / 2));  // on the mark
  EXPECT_EQ(checked(groups[0]), QStringList{"RadioButton7"});
  EXPECT_EQ(checked(groups[1]), QStringList{"RadioButton3"});
}

TEST_F(MainWindow, TabOrderRunsThroughTheEntriesFirst) {
  form.show();
  const QStringList expected = {"Edit1",        "Edit2",          "Edit3",
                                "RadioButton1", "RadioButton2",   "RadioButton3",
                                "RadioButton4", "RadioButton5",   "RadioButton6",
                                "RadioButton7", "BitBtn1_Enviar", "BitBtn2_Recibir"};
  QStringList chain;
  QWidget* w = Find("Edit1");
  do {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&form)) chain << w->objectName();
    w = w->nextInFocusChain();
  } while (w != Find("Edit1") && chain.size() < 40);
  EXPECT_EQ(chain, expected);
}

TEST_F(MainWindow, MenusCarryTheirItemsAndAccessLetters) {
  const QList<QPair<QString, QStringList>> expected = {
      {"&Archivo",
       {"&Nuevo", "&Abrir programación...", "&Guardar programación...", "", "&Imprimir hoja...",
        "&Historial...", "", "Registro de la &línea...", "", "&Salir"}},
      {"&Configuración", {"&Configurar Puerto", "&Reconectar el puerto automáticamente"}},
      {"&Programación",
       {"&Enviar Programación", "&Recibir Programación", "Enviar y &Verificar", "",
        "Programar en &serie..."}},
      {"&Ayuda", {"&Acerda de..."}},
  };
  const QList<QAction*> menus = form.menuBar()->actions();
  ASSERT_EQ(menus.size(), expected.size());
  for (int i = 0; i < menus.size(); ++i) {
    EXPECT_EQ(menus[i]->text(), expected[i].first);
    QStringList items;
    for (QAction* item : menus[i]->menu()->actions()) {
      items << item->text();
      EXPECT_TRUE(item->isEnabled());
    }
    EXPECT_EQ(items, expected[i].second);
  }
  EXPECT_EQ(form.menuBar()->objectName(), "MainMenu1");
  auto* trace = Find<QAction>("Registrodelalnea1");
  ASSERT_NE(trace, nullptr);
  EXPECT_TRUE(trace->isCheckable());
  EXPECT_FALSE(trace->isChecked());
  auto* salir = Find<QAction>("Salir1");
  ASSERT_NE(salir, nullptr);
  EXPECT_EQ(ShortCutFromKeySequence(salir->shortcut()), kSalirShortCut);
  EXPECT_EQ(Find<QAction>("AbrirProgramacin1")->shortcut(), QKeySequence(QKeySequence::Open));
  EXPECT_EQ(Find<QAction>("GuardarProgramacin1")->shortcut(), QKeySequence(QKeySequence::Save));
  EXPECT_EQ(QKeySequence(QKeySequence::Save), QKeySequence(QStringLiteral("Ctrl+S")));
  EXPECT_EQ(Find<QAction>("Nuevo1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
}

struct Key {
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  const char* text;  // what the platform reports the keystroke types
};

struct Typing {
  std::string field;
  QString before;
  QList<Key> keys;
  QString after;
  int beeps;
};

class EntryFilters : public MainWindow, public ::testing::WithParamInterface<Typing> {};

TEST_P(EntryFilters, AcceptRefuseAndLimit) {
  const Typing& t = GetParam();
  QApplication::clipboard()->setText(QStringLiteral("999"));
  auto* field = Find<QLineEdit>(t.field.c_str());
  field->setText(t.before);
  for (const Key& k : t.keys) {
    QTest::sendKeyEvent(QTest::Click, field, k.key, QString::fromUtf8(k.text), k.modifiers);
  }
  EXPECT_EQ(field->text(), t.after);
  EXPECT_EQ(boxes.beeps, t.beeps);
}

const Qt::KeyboardModifiers kNone = Qt::NoModifier;
const Qt::KeyboardModifiers kShift = Qt::ShiftModifier;
const Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;

INSTANTIATE_TEST_SUITE_P(
    Keys, EntryFilters,
    ::testing::Values(
        Typing{"Edit1", "", {{Qt::Key_B, kNone, "b"}}, "", 1},
        Typing{"Edit1", "", {{Qt::Key_B, kShift, "B"}}, "B", 0},
        Typing{"Edit1", "", {{Qt::Key_A, kShift, "A"}}, "", 1},
        Typing{"Edit1", "", {{Qt::Key_V, kCtrl, "\x16"}}, "", 1},  // no paste
        Typing{"Edit1", "12", {{Qt::Key_X, kCtrl, "\x18"}}, "12", 1},
        Typing{"Edit1", "12", {{Qt::Key_Backspace, kNone, "\b"}}, "1", 0},
        Typing{"Edit1", "1B2C", {{Qt::Key_5, kNone, "5"}}, "1B2C", 0},  // limit: no beep
        Typing{"Edit1", "", {{Qt::Key_Return, kNone, "\r"}}, "", 1},
        Typing{"Edit1", "12", {{Qt::Key_Left, kNone, ""}, {Qt::Key_F, kShift, "F"}}, "1F2", 0},
        // Delete and the caret keys as X11 sends them: they edit, they are not typed.
        Typing{"Edit1", "12", {{Qt::Key_Home, kNone, ""}, {Qt::Key_Delete, kNone, "\x7f"}}, "2", 0},
        Typing{"Edit2",
               "1,2",
               {{Qt::Key_Left, kNone, ""},
                {Qt::Key_Left, kNone, ""},
                {Qt::Key_Delete, kNone, "\x7f"},
                {Qt::Key_End, kNone, ""},
                {Qt::Key_3, kNone, "3"}},
               "12"
               "3",
               0},
        Typing{"Edit1", "12", {{Qt::Key_Tab, kNone, "\t"}}, "12", 0},
        Typing{"Edit2",
               "",
               {{Qt::Key_1, kNone, "1"},
                {Qt::Key_Comma, kNone, ","},
                {Qt::Key_Asterisk, kShift, "*"},
                {Qt::Key_NumberSign, kShift, "#"}},
               "1,*#",
               0},
        Typing{"Edit2", "", {{Qt::Key_B, kShift, "B"}, {Qt::Key_Period, kNone, "."}}, "", 2},
        Typing{"Edit3",
               QString(30, '1'),
               {{Qt::Key_2, kNone, "2"}, {Qt::Key_3, kNone, "3"}},
               QString(30, '1') + "2",
               0},
        Typing{"Edit3", QString(40, '9'), {{Qt::Key_Backspace, kNone, "\b"}}, QString(39, '9'), 0},
        // Letters beyond ASCII whose low byte is an allowed character (ł: B, ı: 1, Ĭ: ","),
        // with the key codes X11 reports: the capital's code point, or none.
        Typing{"Edit1", "", {{Qt::Key(0x141), kNone, "ł"}}, "", 1},
        Typing{"Edit1", "", {{Qt::Key_unknown, kNone, "ł"}}, "", 1},
        Typing{"Edit1", "", {{Qt::Key_I, kNone, "ı"}}, "", 1},
        Typing{"Edit2", "", {{Qt::Key_I, kNone, "ı"}, {Qt::Key(0x12C), kShift, "Ĭ"}}, "", 2}),
    [](const auto& info) { return info.param.field + std::to_string(info.index); });

TEST_F(MainWindow, TabAndShiftTabMoveBetweenTheEntriesAsX11SendsThem) {
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  Find("Edit1")->setFocus();
  QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_Tab, QStringLiteral("\t"),
                      kNone);
  EXPECT_EQ(QApplication::focusWidget(), Find("Edit2"));
  QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_Tab, QStringLiteral("\t"),
                      kNone);
  EXPECT_EQ(QApplication::focusWidget(), Find("Edit3"));
  QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_Backtab,
                      QStringLiteral("\t"), kShift);
  EXPECT_EQ(QApplication::focusWidget(), Find("Edit2"));
  EXPECT_EQ(boxes.beeps, 0);
}

// Space, Enter and the keypad's Enter, as X11 reports them, press the focused button.
TEST_F(MainWindow, KeysPressTheFocusedButton) {
  const struct {
    const char* button;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* text;
  } cases[] = {
      {"BitBtn1_Enviar", Qt::Key_Space, kNone, " "},
      {"BitBtn1_Enviar", Qt::Key_Return, kNone, "\r"},
      {"BitBtn1_Enviar", Qt::Key_Enter, Qt::KeypadModifier, "\r"},
      {"BitBtn2_Recibir", Qt::Key_Space, kNone, " "},
      {"BitBtn2_Recibir", Qt::Key_Return, kNone, "\r"},
      {"BitBtn2_Recibir", Qt::Key_Enter, Qt::KeypadModifier, "\r"},
  };
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.button) + " " + c.text);
    auto* button = Find<QPushButton>(c.button);
    button->setEnabled(true);
    button->setFocus();
    QSignalSpy clicks(button, &QPushButton::clicked);
    QTest::sendKeyEvent(QTest::Click, button, c.key, QString::fromLatin1(c.text), c.modifiers);
    EXPECT_EQ(clicks.size(), 1);
  }
  // The handlers ran: the send refused the empty subscriber, the receives set the mode.
  EXPECT_EQ(boxes.messages, QStringList(3, "Los datos ingresados son incorrectos"));
  EXPECT_EQ(form.Tag(), 1);
}

TEST(Program, NamesItselfAsItsMenuEntryDoes) {
  NameProgram();
  EXPECT_EQ(ApplicationTitle(), "Vardelio");
  const QFileInfo entry(QStringLiteral(VARDELIO_DESKTOP_FILE));  // the file the package installs
  EXPECT_TRUE(entry.exists());
  EXPECT_EQ(QGuiApplication::desktopFileName() + ".desktop", entry.fileName());
  // X11 names the window's class after the application; the entry's StartupWMClass matches
  // it, so a task bar puts the window under its menu entry.
  QSettings desktop(entry.filePath(), QSettings::IniFormat);
  EXPECT_EQ(desktop.value("Desktop Entry/StartupWMClass").toString(),
            QCoreApplication::applicationName());
  EXPECT_EQ(QCoreApplication::applicationName(), "vardelio");
}

TEST(CommandLine, AnsweredBeforeAnyWindow) {
  const struct {
    std::vector<const char*> args;
    std::optional<int> code;
    const char* out;  // a part of what is printed
    const char* errors;
    const char* file = "";   // the programming file to open
    const char* trace = "";  // the trace file the program starts with
  } cases[] = {
      {{"vardelio"}, std::nullopt, "", ""},
      {{"vardelio", "--version"}, 0, "vardelio 1.0\n", ""},
      {{"vardelio", "--help"}, 0, "sudo usermod -aG dialout", ""},
      {{"vardelio", "-h"}, 0, "13      permission denied", ""},
      {{"vardelio", "--port"}, 2, "", "unknown option --port"},
      {{"vardelio", "--help"}, 0, "FILE, a programming file (.vardelio)", ""},
      {{"vardelio", "--help"}, 0, "Usage: vardelio [--trace FILE] [FILE]\n", ""},
      {{"vardelio", "--help"}, 0, "--trace FILE   record every byte", ""},
      {{"vardelio", "cliente.vardelio"}, std::nullopt, "", "", "cliente.vardelio"},
      {{"vardelio", "/tmp/a b.vardelio"}, std::nullopt, "", "", "/tmp/a b.vardelio"},
      {{"vardelio", "--", "-x.vardelio"}, std::nullopt, "", "", "-x.vardelio"},
      {{"vardelio", "--", "--trace"}, std::nullopt, "", "", "--trace"},
      {{"vardelio", "a.vardelio", "b.vardelio"}, 2, "", "more than one file"},
      {{"vardelio", "a.vardelio", "--bogus"}, 2, "", "unknown option --bogus"},
      {{"vardelio", "--trace", "a b.log"}, std::nullopt, "", "", "", "a b.log"},
      {{"vardelio", "--trace", "x.log", "--version"}, 0, "vardelio 1.0\n", ""},
      {{"vardelio", "--trace"}, 2, "", "missing file for --trace\nTry 'vardelio --help'"},
      {{"vardelio", "--trace", ""}, 2, "", "missing file for --trace"},
      {{"vardelio", "a.vardelio", "--trace"}, 2, "", "missing file for --trace"},
      {{"vardelio", "--trace", "x.log", "y.vardelio"}, std::nullopt, "", "", "y.vardelio", "x.log"},
      {{"vardelio", "y.vardelio", "--trace", "x.log"}, std::nullopt, "", "", "y.vardelio", "x.log"},
      {{"vardelio", "--trace", "x.log", "a.vardelio", "b.vardelio"}, 2, "", "more than one file"},
      {{"vardelio", "--trace", "x.log", "--", "--trace"}, std::nullopt, "", "", "--trace", "x.log"},
  };
  for (const auto& c : cases) {
    std::ostringstream out, errors;
    TStartOptions start;
    EXPECT_EQ(HandleCommandLine(int(c.args.size()), c.args.data(), out, errors, &start), c.code)
        << c.args.back();
    EXPECT_EQ(start.programmingFile, c.file) << c.args.back();
    EXPECT_NE(out.str().find(c.out), std::string::npos) << c.args.back();
    EXPECT_NE(errors.str().find(c.errors), std::string::npos) << c.args.back();
    EXPECT_EQ(start.traceFile, c.trace) << c.args.back();
    if (c.code == std::nullopt) {
      EXPECT_TRUE(out.str().empty() && errors.str().empty());
    }
    if (c.code == 2) {  // one line and the hint, not the whole help
      const std::string text = errors.str();
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
      EXPECT_EQ(text.find("Usage"), std::string::npos);
    }
  }
}

// Answers the file dialogs that open while it lives: with a path typed into the name field,
// or cancelled when empty.
std::unique_ptr<QTimer> AnswerFileDialogs(const QString& path) {
  auto poll = std::make_unique<QTimer>();
  QObject::connect(poll.get(), &QTimer::timeout, poll.get(), [path] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (path.isEmpty() || name == nullptr) return dialog->reject();
    name->setText(path);
    static_cast<QDialog*>(dialog)->accept();
  });
  poll->start(10);
  return poll;
}

TEST_F(MainWindow, TheLineTraceItemAsksForAFileAndAppendsToIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("line.log"));
  std::ofstream(path.toStdString()) << "kept\n";
  chmod(path.toLocal8Bit().constData(), 0600);  // a trace goes only where nobody else reads
  const struct {
    const char* name;
    QString chosen;
  } cases[] = {{"cancelled", QString()}, {"file chosen", path}};
  auto* item = Find<QAction>("Registrodelalnea1");
  for (const auto& c : cases) {
    const auto answer = AnswerFileDialogs(c.chosen);
    item->trigger();
    EXPECT_EQ(item->isChecked(), !c.chosen.isEmpty()) << c.name;
    EXPECT_EQ(form.LineTraceActive(), !c.chosen.isEmpty()) << c.name;
  }
  item->trigger();
  EXPECT_FALSE(item->isChecked());
  EXPECT_FALSE(form.LineTraceActive());
  std::ifstream file(path.toStdString());
  std::string first, second;
  std::getline(file, first);
  std::getline(file, second);
  EXPECT_EQ(first, "kept");
  ASSERT_TRUE(form.ComPort1()->Connected());
  EXPECT_NE(second.find(" OPEN " + form.ComPort1()->Port() + " 9600 baud (already open)"),
            std::string::npos)
      << second;
  EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST_F(MainWindow, ProgramTextMayExceedTheTypingLimitAndShowsInUpperCase) {
  auto* edit1 = Find<QLineEdit>("Edit1");
  edit1->setText(QStringLiteral("ok123"));
  EXPECT_EQ(edit1->text(), "OK123");
}

}  // namespace
