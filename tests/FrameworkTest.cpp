#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QProxyStyle>
#include <QScopeGuard>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTemporaryFile>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

#include <unistd.h>

#include "RecordingPresenter.h"
#include "Waiting.h"
#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Component.h"
#include "framework/HandOver.h"
#include "framework/Handler.h"
#include "framework/ShortCut.h"
#include "framework/WindowsFonts.h"

using namespace vardelio;
using vardelio::test::TRecordingPresenter;

namespace {

TEST(ErrorReport, AddsAFullStopOnlyAfterCharactersThatSortAfterIt) {
  const struct {
    QString message, shown;
  } cases[] = {
      {"Failed to store settings", "Failed to store settings."},
      {"Unable to open com port (win error code: 2)",
       "Unable to open com port (win error code: 2)"},
      {"Already ends.", "Already ends."},
      {"", ""},
      {"dash-", "dash-"},
      {"slash/", "slash/."},
      {"Programación", "Programación."},
      {"42", "42."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrorReportText(c.message), c.shown) << c.message.toStdString();
}

TEST(ErrorReport, IsCaptionedWithTheApplicationTitle) {
  TRecordingPresenter boxes;
  ShowErrorReport(QStringLiteral("Failed to load settings"));
  ShowMessage(QStringLiteral("Programación Exitosa"));
  EXPECT_EQ(boxes.errors, QStringList{"Failed to load settings."});
  EXPECT_EQ(boxes.messages, QStringList{"Programación Exitosa"});  // plain boxes add nothing
  EXPECT_EQ(boxes.captions, (QStringList{"Vardelio", "Vardelio"}));
}

class ThrowingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("Line broke");
    return QObject::event(e);
  }
};

TEST(ErrorReport, ExceptionsReachingTheEventLoopAreReportedAndTheProgramGoesOn) {
  TRecordingPresenter boxes;
  ThrowingObject object;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&object, &event));
  EXPECT_EQ(boxes.errors, QStringList{"Line broke."});
  QEvent again(QEvent::User);
  QCoreApplication::sendEvent(&object, &again);
  EXPECT_EQ(boxes.errors.size(), 2);
}

TEST(Application, QtsMessagesReachTheConsoleOnlyWhenAskedFor) {
  for (const bool asked : {false, true}) {
    if (asked) qputenv(kDebugVariable, "1");
    QTemporaryFile console;
    ASSERT_TRUE(console.open());
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(console.handle(), 2);
    qWarning("a warning from Qt");
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    qunsetenv(kDebugVariable);
    console.seek(0);
    EXPECT_EQ(console.readAll().contains("a warning from Qt"), asked) << asked;
  }
}

bool ImagePluginsLoaded() {
  QFile maps(QStringLiteral("/proc/self/maps"));
  return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
}

// Asking whether any installed image plugin reads Qt's own pictures loads every one of them:
// a menu bar's overflow button, hidden unless the bar is too narrow, must not do it at start.
TEST(Application, AMenuBarLoadsNoImagePluginBeforeItsOverflowButtonIsDrawn) {
  if (ImagePluginsLoaded()) GTEST_SKIP() << "an earlier test in this process loaded them";
  QMenuBar bar;
  bar.addMenu(QStringLiteral("&Archivo"));
  EXPECT_FALSE(ImagePluginsLoaded());
}

// A Windows font the machine lacks becomes an alias of the stand-in when it is there, and is
// otherwise substituted; one the machine has keeps its own name.
TEST(WindowsFonts, EachMissingOneIsAliasedOrSubstituted) {
  const QString lib = QStringLiteral("Liberation Sans"), deja = QStringLiteral("DejaVu Sans");
  const QString ms = QStringLiteral("MS Sans Serif"), arial = QStringLiteral("Arial");
  const struct {
    QStringList installed;
    QStringList aliased, substituted;
  } cases[] = {
      {{deja, lib}, {ms, arial}, {}},
      {{deja, QStringLiteral("liberation sans")}, {ms, arial}, {}},
      {{lib, arial}, {ms}, {}},
      {{lib, QStringLiteral("ms sans serif")}, {arial}, {}},
      {{deja}, {}, {ms, arial}},
      {{}, {}, {ms, arial}},
      {{deja, arial, ms}, {}, {}},
      // A family several foundries make is listed once for each, its foundry in brackets.
      {{QStringLiteral("Liberation Sans [1ASC]"), QStringLiteral("Liberation Sans [GOOG]")},
       {ms, arial},
       {}},
      {{lib, QStringLiteral("Arial [MONO]"), QStringLiteral("Arial [1ASC]")}, {ms}, {}},
      {{QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Black")}, {}, {ms, arial}},
  };
  for (const auto& c : cases) {
    QStringList aliased, substituted;
    for (const TWindowsFont& font : PlanWindowsFonts(c.installed)) {
      (font.alias ? aliased : substituted) << font.name;
      EXPECT_EQ(font.substitutes.isEmpty(), font.alias) << font.name.toStdString();
      if (!font.alias) {
        EXPECT_EQ(font.substitutes.value(0), lib);
      }
    }
    EXPECT_EQ(aliased, c.aliased) << c.installed.join(',').toStdString();
    EXPECT_EQ(substituted, c.substituted) << c.installed.join(',').toStdString();
  }
}

// Every font the forms name is drawn in the stand-in, with its own size and weight, exactly as
// the stand-in named outright; a family the machine has is untouched.
TEST(WindowsFonts, TheFormsFontsAreDrawnInTheStandIn) {
  if (!QFontDatabase::families().contains(kFontStandIn)) GTEST_SKIP() << "no stand-in here";
  const struct {
    const char* family;
    int points;
    bool bold;
  } cases[] = {
      {"MS Sans Serif", 8, false}, {"MS Sans Serif", 12, false}, {"ms sans serif", 8, true},
      {"Arial", 12, false},        {"Arial", 28, true},          {"arial", 8, false},
  };
  const QString text = QStringLiteral("Teléfono de Respaldo: 0-9 B-F, °");
  for (const auto& c : cases) {
    QFont named(QString::fromLatin1(c.family), c.points);
    named.setBold(c.bold);
    QFont standIn(kFontStandIn, c.points);
    standIn.setBold(c.bold);
    const QFontInfo info(named);
    EXPECT_EQ(info.family(), kFontStandIn) << c.family;
    // Substitutes would have Qt rank every installed font again for each size it loads.
    EXPECT_TRUE(QFont::substitutes(named.family()).isEmpty()) << c.family;
    EXPECT_EQ(info.bold(), c.bold) << c.family;
    EXPECT_EQ(info.pointSize(), c.points) << c.family;
    EXPECT_EQ(QFontMetrics(named).horizontalAdvance(text),
              QFontMetrics(standIn).horizontalAdvance(text))
        << c.family << " " << c.points;
  }
  EXPECT_EQ(QFontInfo(QFont(QStringLiteral("DejaVu Sans"), 9)).family(), "DejaVu Sans");
}

// A form built in the scope leaves every application font as it was: the application's own and
// those a desktop's theme gives each kind of widget, which the form's own menus take again.
TEST(WindowsFonts, AFormFontScopeLeavesTheApplicationFontsAsTheyWere) {
  const QFont before = QApplication::font(), formFont(QStringLiteral("MS Sans Serif"), 8);
  const struct {
    const char* className;
    QFont font;
  } themed[] = {{"QMenu", QFont(QStringLiteral("DejaVu Serif"), 13)},
                {"QTipLabel", QFont(QStringLiteral("DejaVu Sans Mono"), 7)},
                {"QMessageBox", QFont(QStringLiteral("Liberation Serif"), 11)}};
  for (const auto& t : themed)
    QApplication::setFont(t.font, t.className);
  const auto dropThemed = qScopeGuard([&] { QApplication::setFont(before); });
  QMainWindow form;
  QMenu* menu = nullptr;
  {
    const TFormFontScope scope(formFont);
    form.setFont(formFont);
    menu = form.menuBar()->addMenu(QStringLiteral("&Archivo"));
  }
  EXPECT_EQ(QApplication::font(), before);
  EXPECT_EQ(QApplication::font().resolveMask(), before.resolveMask());
  for (const auto& t : themed)
    EXPECT_EQ(QApplication::font(t.className), t.font)
        << t.className << " " << QApplication::font(t.className).toString().toStdString();
  QCoreApplication::processEvents();  // what a form's menus are told of the change
  EXPECT_EQ(menu->font(), themed[0].font) << menu->font().toString().toStdString();
  EXPECT_EQ(form.font(), formFont);
}

QImage Drawn(const QIcon& icon, int side) {
  QImage image(QSize(side, side) * qApp->devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(qApp->devicePixelRatio());
  image.fill(Qt::transparent);
  QPainter painter(&image);
  icon.paint(&painter, QRect(0, 0, side, side));
  return image;
}

// The overflow buttons' pictures, read when first drawn, are the ones the style gives: turned
// as the direction asks, whether an option gives it or the application's does, and as big as
// the style draws them at each size and pixel ratio.
TEST(Application, TheOverflowButtonsLookAsTheStyleDrawsThem) {
  if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
    ASSERT_GT(qApp->devicePixelRatio(), 1.0);
  }
  const auto* style = qobject_cast<const QProxyStyle*>(QApplication::style());
  ASSERT_NE(style, nullptr);
  const std::unique_ptr<QStyle> plain(QStyleFactory::create(style->baseStyle()->name()));
  ASSERT_NE(plain, nullptr);
  for (const auto which :
       {QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton}) {
    for (const auto direction : {Qt::LeftToRight, Qt::RightToLeft}) {
      for (const bool byOption : {true, false}) {
        SCOPED_TRACE(testing::Message() << which << " " << direction << " " << byOption);
        QStyleOption option;
        option.direction = direction;
        QApplication::setLayoutDirection(byOption ? Qt::LeftToRight : direction);
        const QIcon icon = style->standardIcon(which, byOption ? &option : nullptr);
        QApplication::setLayoutDirection(Qt::LeftToRight);  // asked for after, as when drawn
        const QIcon expected = plain->standardIcon(which, &option);
        EXPECT_FALSE(icon.isNull());
        for (const int side : {8, 16, 24}) {
          const QSize size(side, side);
          EXPECT_EQ(icon.actualSize(size), expected.actualSize(size)) << side;
          EXPECT_EQ(Drawn(icon, side), Drawn(expected, side)) << side;
          for (const qreal ratio : {1.0, 1.5, 2.0}) {
            const QPixmap got = icon.pixmap(size, ratio), want = expected.pixmap(size, ratio);
            EXPECT_EQ(got.devicePixelRatio(), want.devicePixelRatio()) << side << " " << ratio;
            EXPECT_EQ(got.toImage(), want.toImage()) << side << " " << ratio;
          }
        }
      }
    }
  }
  QApplication::setLayoutDirection(Qt::LeftToRight);
}

// On a scaled screen the icon's sizes are asked in device pixels: the same rows, run so.
TEST(Application, TheOverflowButtonsLookAsTheStyleDrawsThemOnAScaledScreen) {
  if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) GTEST_SKIP() << "this is the scaled run";
  QProcess run;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
  run.setProcessEnvironment(environment);
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.start(
      QCoreApplication::applicationFilePath(),
      {QStringLiteral("--gtest_filter=Application.TheOverflowButtonsLookAsTheStyleDrawsThem")});
  ASSERT_TRUE(run.waitForFinished(-1));
  EXPECT_EQ(run.exitCode(), 0) << run.readAll().toStdString();
}

TEST(ErrorReport, RunReportedShowsTheHandlersException) {
  TRecordingPresenter boxes;
  bool after = false;
  RunReported([] { throw std::runtime_error("Unable to write to port"); });
  RunReported([&] { after = true; });
  EXPECT_EQ(boxes.errors, QStringList{"Unable to write to port."});
  EXPECT_TRUE(after);
}

TEST(Ansi, ConvertsWindows1252BothWays) {
  const std::string bytes = "Programaci\xf3n \x80 \x93x\x94";
  const QString text = FromAnsi(bytes);
  EXPECT_EQ(text, QString::fromUtf8("Programación € “x”"));
  EXPECT_EQ(ToAnsi(text), bytes);
  EXPECT_EQ(ToAnsi(QString::fromUtf8("中")), "?");
  EXPECT_EQ(ToAnsi(QString::fromUtf8("a😀b")), "a?b");  // one mark per character
  EXPECT_EQ(FromAnsi(std::string("\x81", 1)), QString(QChar(0x81)));
  EXPECT_EQ(FromAnsi(std::string("a\0b", 3)).size(), 3);
}

TEST(ShortCut, StoredCodesMapToKeySequences) {
  const struct {
    int code;
    QKeySequence sequence;
  } cases[] = {
      {32851, QKeySequence(Qt::ALT | Qt::Key_S)},
      {0x4000 | 'C', QKeySequence(Qt::CTRL | Qt::Key_C)},
      {0x2000 | 0x4000 | 0x74, QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_F5)},
      {'7', QKeySequence(Qt::Key_7)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KeySequenceFromShortCut(c.code), c.sequence) << c.code;
    EXPECT_EQ(ShortCutFromKeySequence(c.sequence), c.code) << c.code;
  }
  EXPECT_TRUE(KeySequenceFromShortCut(0x8000 | 0x01).isEmpty());  // no such key
  EXPECT_TRUE(KeySequenceFromShortCut(0x1000 | 'S').isEmpty());   // unknown flag
  EXPECT_EQ(ShortCutFromKeySequence(QKeySequence(Qt::Key_Escape)), 0);
}

class Watcher : public TComponent {
 public:
  using TComponent::TComponent;
  QList<TComponent*> removed;
  int afterLoads = 0;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    if (op == TOperation::opRemove) removed.append(c);
  }
  void AfterLoad() override { ++afterLoads; }
};

TEST(Component, OwnerNameAndLoadingState) {
  QObject owner;
  auto* port = new Watcher(&owner);
  port->SetName(QStringLiteral("ComPort1"));
  EXPECT_EQ(port->Owner(), &owner);
  EXPECT_EQ(owner.findChild<TComponent*>(QStringLiteral("ComPort1")), port);
  EXPECT_FALSE(port->Loading());
  port->BeginLoading();
  EXPECT_TRUE(port->Loading());
  port->EndLoading();
  EXPECT_FALSE(port->Loading());
  EXPECT_EQ(port->afterLoads, 1);
}

TEST(Component, RemovalIsNotifiedWhicheverGoesFirst) {
  Watcher framer;
  {
    Watcher port;
    port.FreeNotification(&framer);
    port.FreeNotification(&framer);  // once is enough
  }
  ASSERT_EQ(framer.removed.size(), 1);

  auto* port = new Watcher;
  {
    Watcher shortLived;
    port->FreeNotification(&shortLived);
  }
  EXPECT_EQ(port->removed.size(), 1);
  delete port;  // must not touch the watcher that went first

  Watcher a, b;
  a.FreeNotification(&b);
  a.RemoveFreeNotification(&b);
  {
    Watcher c;
    c.FreeNotification(&a);
  }
  EXPECT_TRUE(b.removed.isEmpty());
}

TEST(Component, OwnerDestroysWhatItOwnsAndTheOthersAreTold) {
  Watcher outside;
  auto* owner = new QObject;
  auto* port = new Watcher(owner);
  auto* framer = new Watcher(owner);
  framer->FreeNotification(port);
  port->FreeNotification(&outside);
  delete owner;
  EXPECT_EQ(outside.removed.size(), 1);
}

struct Receiver {
  QObject* sender = nullptr;
  void Handle(QObject* s, int& pos) {
    sender = s;
    pos = 7;
  }
};

TEST(Handler, EmptySlotsDoNothingAndBoundSlotsGetTheSender) {
  THandler<int&> slot;
  int pos = 1;
  slot(nullptr, pos);
  EXPECT_FALSE(slot.Assigned());
  EXPECT_EQ(pos, 1);

  Receiver receiver;
  QObject sender;
  slot = THandler<int&>(&receiver, &Receiver::Handle);
  slot(&sender, pos);
  EXPECT_TRUE(slot.Assigned());
  EXPECT_EQ(receiver.sender, &sender);
  EXPECT_EQ(pos, 7);
  slot.Clear();
  EXPECT_FALSE(slot.Assigned());
}

}  // namespace

namespace {

// A repeated call runs again behind what the loop held when its run ended, so what that run
// posted comes first, whether the run came from the worker's own event (the first) or from
// the turn after another run (the later ones); the worker waits throughout and gets the raise
// of any run. Only the worker's own call wakes the loop: the runs after it cost no event.
TEST(HandOver, ARepeatedCallRunsAgainBehindWhatTheLoopHolds) {
  struct TServeEvents : QObject {
    int count = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() >= QEvent::User && watched->inherits("vardelio::THandOverTarget")) ++count;
      return false;
    }
  };
  for (const bool raises : {false, true}) {
    SCOPED_TRACE(raises);
    TServeEvents serveEvents;
    qApp->installEventFilter(&serveEvents);
    auto handOver = std::make_shared<THandOver>();
    QObject context;
    std::vector<std::string> log;  // main thread only
    std::atomic<bool> done = false, raised = false;
    int runs = 0;
    std::thread worker([&] {
      try {
        handOver->CallRepeated([&] {
          log.push_back("run " + std::to_string(++runs));
          if (raises && runs == 2) throw std::runtime_error("raised");
          if (runs == 3) return false;
          QMetaObject::invokeMethod(
              &context, [&log, run = runs] { log.push_back("posted " + std::to_string(run)); },
              Qt::QueuedConnection);
          return true;
        });
      } catch (const std::runtime_error&) {
        raised = true;
      }
      done = true;
    });
    const bool ended = vardelio::test::ServeUntil([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(ended);
    const std::vector<std::string> expected =
        raises ? std::vector<std::string>{"run 1", "posted 1", "run 2"}
               : std::vector<std::string>{"run 1", "posted 1", "run 2", "posted 2", "run 3"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(raised, raises);
    EXPECT_EQ(serveEvents.count, 1);
  }
}

}  // namespace
