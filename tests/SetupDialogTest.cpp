#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>

#include "FakeComPlatform.h"
#include "FakeSysfs.h"
#include "RecordingPresenter.h"
#include "Waiting.h"
#include "i18n/TranslationEngine.h"
#include "portconfig/ComComboBox.h"
#include "portconfig/ComSetupForm.h"
#include "portconfig/DeviceWatch.h"
#include "portconfig/PortList.h"
#include "serial/ComPort.h"

using namespace vardelio;
using vardelio::test::TFakeComPlatform;
using vardelio::test::TFakeSysfs;
using vardelio::test::TRecordingPresenter;

namespace {

TEST(PortList, SortedAsTextWithGhostsAndNonDevicesLeftOut) {
  TFakeSysfs sysfs({{"COM2", 4},
                    {"COM10", 4},
                    {"COM1", 4},
                    {"com3", 4},
                    {"ttyUSB0", TFakeSysfs::kNoType},
                    {"ttyS3", 0},  // serial core, no UART behind it
                    {"tty0", TFakeSysfs::kNoDevice}});
  // As text in the user's locale, never by number: the C locale and a language's own rules.
  for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Spanish, QLocale::Argentina)}) {
    SCOPED_TRACE(locale.name().toStdString());
    QLocale::setDefault(locale);
    QStringList ports{"stale"};
    ListSerialPorts(ports);
    EXPECT_EQ(ports, (QStringList{"COM1", "COM10", "COM2", "com3", "ttyUSB0"}));
  }
  QLocale::setDefault(QLocale::system());
}

TEST(PortList, AnUnreadableTreeIsARegistryError) {
  SetSysfsRoot("/nonexistent-sysfs");
  QStringList ports{"kept"};
  try {
    ListSerialPorts(ports);
    ADD_FAILURE() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.PortErrorCode(), 23);
    EXPECT_STREQ(e.what(), "Registry error (win error code: 2)");
  }
  EXPECT_EQ(ports, QStringList{"kept"});
  SetSysfsRoot("");
}

// The dialog over a port on the recording fake, with COM1 and COM2 on the machine.
class SetupDialog : public ::testing::Test {
 protected:
  SetupDialog() {
    port.SetName(QStringLiteral("ComPort1"));
    port.SetEvents({});
  }
  // Runs the dialog; `act` works on it while it is shown, then OK or Cancel closes it.
  void Run(const std::function<void(TComSetupFrm&)>& act, bool ok) { Run(port, act, ok); }
  void Run(TComPort& target, const std::function<void(TComSetupFrm&)>& act, bool ok) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      shown.clear();
      for (TComComboBox* combo : dialog->Combos())
        shown << combo->Text();
      act(*dialog);
      dialog->findChild<QPushButton*>(ok ? "Button1" : "Button2")->click();
    });
    OpenSetupDialog(target);
  }
  static void Pick(TComComboBox* combo, Qt::Key key) {
    combo->setFocus();
    QTest::keyClick(combo, key);  // the arrow keys pick the next entry of a closed list
  }

  TFakeSysfs sysfs{{{"COM1", 4}, {"COM2", 4}}};
  TFakeComPlatform fake;
  TComPort port{nullptr, &fake};
  QStringList shown;
};

TEST_F(SetupDialog, ShowsThePortsValuesAndOkReappliesThemOnce) {
  port.OpenPort();
  fake.calls.clear();
  QPoint offCentre;
  Run(
      [&](TComSetupFrm& dialog) {
        offCentre = dialog.frameGeometry().center() - dialog.screen()->availableGeometry().center();
      },
      true);
  EXPECT_LE(offCentre.manhattanLength(), 2);
  EXPECT_EQ(shown, (QStringList{"COM1", "9600", "8", "1", "None", "None"}));
  EXPECT_EQ(fake.Names(),
            (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  EXPECT_EQ(port.BatchDepth(), 0);
}

TEST_F(SetupDialog, WhatOkKeepsAndWhatItChanges) {
  const struct {
    const char* name;
    std::function<void(TComPort&)> prepare;
    QStringList shown;
    std::function<void(const TComPort&)> check;
  } cases[] = {
      {"a lower-case name takes the list's spelling",
       [](TComPort& p) { p.SetPort("com1"); },
       {"COM1", "9600", "8", "1", "None", "None"},
       [](const TComPort& p) { EXPECT_EQ(p.Port(), "COM1"); }},
      {"a port the list lacks keeps its name",
       [](TComPort& p) { p.SetPort("/dev/pts/7"); },
       {"", "9600", "8", "1", "None", "None"},
       [](const TComPort& p) { EXPECT_EQ(p.Port(), "/dev/pts/7"); }},
      {"a custom rate stays",
       [](TComPort& p) {
         p.SetBaudRate(brCustom);
         p.SetCustomBaudRate(31250);
       },
       {"COM1", "Custom", "8", "1", "None", "None"},
       [](const TComPort& p) {
         EXPECT_EQ(p.BaudRate(), brCustom);
         EXPECT_EQ(p.CustomBaudRate(), 31250);
       }},
      {"flow control matching no preset is left alone",
       [](TComPort& p) {
         p.FlowControl().SetOutCTSFlow(true);
         p.FlowControl().SetXonXoffIn(true);
       },
       {"COM1", "9600", "8", "1", "None", "Custom"},
       [](const TComPort& p) {
         EXPECT_TRUE(p.FlowControl().OutCTSFlow());
         EXPECT_TRUE(p.FlowControl().XonXoffIn());
         EXPECT_FALSE(p.FlowControl().XonXoffOut());
       }},
      {"two stop bits and even parity",
       [](TComPort& p) {
         p.SetStopBits(sbTwoStopBits);
         p.Parity().SetBits(prEven);
         p.SetDataBits(dbSeven);
       },
       {"COM1", "9600", "7", "2", "Even", "None"},
       [](const TComPort& p) {
         EXPECT_EQ(p.StopBits(), sbTwoStopBits);
         EXPECT_EQ(p.Parity().Bits(), prEven);
         EXPECT_EQ(p.DataBits(), dbSeven);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TComPort fresh(nullptr, &fake);
    fresh.SetEvents({});
    fresh.FlowControl().SetFlowControl(fcNone);
    c.prepare(fresh);
    Run(
        fresh, [](TComSetupFrm&) {}, true);
    EXPECT_EQ(shown, c.shown);
    c.check(fresh);
  }
}

TEST_F(SetupDialog, CancelAfterChangingEveryBoxChangesNothing) {
  port.FlowControl().SetFlowControl(fcNone);
  port.OpenPort();
  fake.calls.clear();
  Run(
      [](TComSetupFrm& dialog) {
        for (TComComboBox* combo : dialog.Combos())
          Pick(combo, Qt::Key_Down);
        EXPECT_EQ(dialog.Combos()[0]->Text(), "COM2");
      },
      false);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
}

TEST_F(SetupDialog, APickedPortInUseClosesThePortAndEndsTheBatch) {
  TRecordingPresenter boxes;
  port.OpenPort();
  fake.Fail("OpenLine", 16);
  bool raised = false;
  try {
    Run(
        [](TComSetupFrm& dialog) {
          Pick(dialog.Combos()[0], Qt::Key_Down);  // COM2
          Pick(dialog.Combos()[1], Qt::Key_Down);  // 14400
        },
        true);
  } catch (const EComPort& e) {
    raised = true;
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 16)");
  }
  EXPECT_TRUE(raised);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "COM2");
  EXPECT_EQ(port.BaudRate(), br9600);  // the later boxes were not applied
  EXPECT_EQ(port.BatchDepth(), 0);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // the dialog is gone
}

TEST_F(SetupDialog, LaidOutAsItsFormWithTheTabOrderOfTheBoxes) {
  TComSetupFrm dialog;
  EXPECT_EQ(dialog.windowTitle(), "Setup");
  EXPECT_EQ(dialog.size(), QSize(231, 216));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  const auto combos = dialog.Combos();
  const QStringList lists[] = {
      {"COM1", "COM2"},
      {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
       "56000", "57600", "115200", "128000", "256000"},
      {"5", "6", "7", "8"},
      {"1", "1.5", "2"},
      {"None", "Odd", "Even", "Mark", "Space"},
      {"Hardware", "Software", "None", "Custom"}};
  for (std::size_t i = 0; i < combos.size(); ++i) {
    QStringList items;
    for (int j = 0; j < combos[i]->count(); ++j)
      items << combos[i]->itemText(j);
    EXPECT_EQ(items, lists[i]) << i;
    EXPECT_EQ(combos[i]->currentIndex(), 0) << i;     // no port bound: the first entry
    EXPECT_EQ(combos[i]->isEditable(), i == 0) << i;  // the port box also takes a path
    EXPECT_EQ(combos[i]->geometry(), QRect(80, 16 + 24 * int(i), 129, 21)) << i;
    QWidget* next = combos[i]->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus)
      next = next->nextInFocusChain();
    EXPECT_EQ(next->objectName(), i + 1 < combos.size() ? combos[i + 1]->objectName() : "Button1");
  }
  EXPECT_TRUE(dialog.findChild<QPushButton*>("Button1")->isDefault());
}

TEST_F(SetupDialog, APortThatGoesAwayIsLetGoAndTheFirstEntryShown) {
  TComSetupFrm dialog;
  auto port2 = std::make_unique<TComPort>(nullptr, &fake);
  port2->SetPort("COM2");
  TComComboBox* box = dialog.Combos()[0];
  box->SetComPort(port2.get());
  EXPECT_EQ(box->Text(), "COM2");
  port2.reset();
  EXPECT_EQ(box->ComPort(), nullptr);
  EXPECT_EQ(box->Text(), "COM1");
  box->SetText("com2");
  EXPECT_EQ(box->Text(), "COM2");
  box->SetText("COM9");  // not listed: nothing changes
  EXPECT_EQ(box->Text(), "COM2");
}

// The port list as the operator sees it: each entry with what the adapter is.
QStringList Entries(const QComboBox& box) {
  QStringList entries;
  for (int i = 0; i < box.count(); ++i)
    entries << box.itemText(i);
  return entries;
}

TEST_F(SetupDialog, ThePortListFollowsPluggingAndThePortBoxTakesATypedPath) {
  QTemporaryDir dev;
  const std::string devFolder = dev.path().toStdString();
  const auto node = [&](const char* name) { return devFolder + "/" + name; };
  SetDevFolder(devFolder);
  for (const char* name : {"COM1", "COM2"})
    std::ofstream(node(name)).put('\n');
  const QString usb0 = QString::fromUtf8("ttyUSB0 — FT232R USB UART (A1B2C3)");
  const QString usb1 = QString::fromUtf8("ttyUSB1 — CH340 (77)");
  const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  port.SetPort("COM2");
  const struct {
    const char* step;
    std::function<void(TComComboBox*)> act;
    QStringList entries;
    QString shown;  // the edit line
  } steps[] = {
      {"opened", [](TComComboBox*) {}, {"COM1", "COM2"}, "COM2"},
      {"plugged",
       [&](TComComboBox*) {
         sysfs.AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A1B2C3");
         std::ofstream(node("ttyUSB0")).put('\n');
       },
       {"COM1", "COM2", usb0},
       "COM2"},
      {"picked", [](TComComboBox* box) { Pick(box, Qt::Key_Down); }, {"COM1", "COM2", usb0}, usb0},
      // sysfs still shows it for a moment after its node has gone: the node decides.
      {"unplugged",
       [&](TComComboBox*) { std::filesystem::remove(node("ttyUSB0")); },
       {"COM1", "COM2"},
       "ttyUSB0"},
      {"another plugged",
       [&](TComComboBox*) {
         sysfs.AddUsbAdapter("ttyUSB1", "", "CH340", "77");
         std::ofstream(node("ttyUSB1")).put('\n');
       },
       {"COM1", "COM2", usb1},
       "ttyUSB0"},
      {"back",
       [&](TComComboBox*) { std::ofstream(node("ttyUSB0")).put('\n'); },
       {"COM1", "COM2", usb0, usb1},
       usb0},
  };
  std::string applied;
  Run(
      [&](TComSetupFrm& dialog) {
        TComComboBox* box = dialog.Combos()[0];
        for (const auto& s : steps) {
          s.act(box);
          EXPECT_TRUE(test::ServeUntil([&] { return Entries(*box) == s.entries; })) << s.step;
          EXPECT_EQ(Entries(*box), s.entries) << s.step;
          EXPECT_EQ(box->currentText(), s.shown) << s.step;
        }
      },
      true);
  EXPECT_EQ(port.Port(), "ttyUSB0");  // the entry's name, not its description
  // A typed link is kept as typed, so the adapter is found whatever its number; the next
  // dialog shows it as it was typed.
  Run([&](TComSetupFrm& dialog) { dialog.Combos()[0]->setEditText(QString::fromStdString(byId)); },
      true);
  EXPECT_EQ(port.Port(), byId);
  Run([](TComSetupFrm&) {}, true);
  EXPECT_EQ(shown.front(), "");  // not listed: no entry is picked...
  EXPECT_EQ(port.Port(), byId);  // ...and OK keeps what is shown
  Run([&](TComSetupFrm& dialog) { dialog.Combos()[0]->setEditText("  com1 "); }, true);
  EXPECT_EQ(port.Port(), "COM1");  // a listed name typed picks its entry
  Run([&](TComSetupFrm& dialog) { dialog.Combos()[0]->setEditText("/tmp/unit"); }, false);
  EXPECT_EQ(port.Port(), "COM1");  // Cancel keeps the port
  SetDevFolder("");
}

// Where a dialog's captions are drawn and where its frame lines and boxes lie, from its
// pixels, in each language the program ships.
class DialogPixels : public ::testing::TestWithParam<const char*> {
 protected:
  DialogPixels() {
    TTranslationEngine& engine = DefaultEngine();
    engine.SelectLanguage(GetParam());
    engine.BindDomainDirectory("cport", VARDELIO_CATALOG_DIR);
    engine.TP_GlobalIgnoreClassProperty(&QObject::staticMetaObject, "objectName");
    dialog = std::make_unique<TComSetupFrm>();
  }
  ~DialogPixels() override { DefaultEngine().SelectLanguage("C"); }

  QImage Picture() { return dialog->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // The pixels that change clearly between two states of the dialog: a faint frame line
  // (Fusion's differs by 24 from the background), not the shade of a group's inside (3).
  QRegion Changed(const std::function<void(bool)>& state) {
    state(false);
    const QImage before = Picture();
    state(true);
    const QImage after = Picture();
    QRegion changed;
    for (int y = 0; y < after.height(); ++y) {
      for (int x = 0; x < after.width(); ++x) {
        const QColor a = after.pixelColor(x, y), b = before.pixelColor(x, y);
        const int difference =
            std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                      std::abs(a.blue() - b.blue())});
        if (difference > 16) changed += QRect(x, y, 1, 1);
      }
    }
    return changed;
  }
  // A caption's ink: what changes with the colour of its text.
  QRegion Ink(QWidget* w, QPalette::ColorRole role) {
    const QPalette original = w->palette();
    const QRegion ink = Changed([&](bool red) {
      QPalette p = original;
      p.setColor(role, red ? Qt::red : Qt::black);
      w->setPalette(p);
    });
    w->setPalette(original);
    return ink;
  }
  QRect InDialog(const QWidget* w) const {
    return QRect(w->mapTo(dialog.get(), QPoint(0, 0)), w->size());
  }

  TFakeSysfs sysfs{{{"COM1", 4}, {"COM2", 4}}};
  std::unique_ptr<TComSetupFrm> dialog;
};

TEST_P(DialogPixels, NoCaptionTouchesABoxOrAFrameLine) {
  EXPECT_EQ(dialog->windowTitle(), std::string(GetParam()) == "es" ? "Configuración" : "Setup");
  auto* group = dialog->findChild<QGroupBox*>("GroupBox1");
  const QList<QWidget*> children = group->findChildren<QWidget*>();
  const auto showChildren = [&](bool shown) {
    for (QWidget* child : children)
      child->setVisible(shown);
  };
  showChildren(false);
  const QRegion title = Ink(group, QPalette::WindowText);
  const QRegion frame = Changed([&](bool shown) { group->setVisible(shown); }) -
                        QRegion(title.boundingRect().adjusted(-1, -1, 1, 1));
  showChildren(true);
  ASSERT_FALSE(title.isEmpty());
  ASSERT_FALSE(frame.isEmpty());
  EXPECT_FALSE(frame.intersects(title.boundingRect().adjusted(-1, -1, 1, 1)));

  constexpr int kClear = 2;  // pixels of background at least around each caption
  std::vector<QRect> boxes;
  for (const TComComboBox* combo : dialog->Combos()) {
    boxes.push_back(InDialog(combo));
    EXPECT_FALSE(frame.intersects(boxes.back().adjusted(-1, -1, 1, 1)))
        << combo->objectName().toStdString();
  }
  QList<QPair<QString, QRect>> captions{{group->title(), title.boundingRect()}};
  for (auto* label : group->findChildren<QLabel*>()) {
    const QRegion ink = Ink(label, QPalette::WindowText);
    ASSERT_FALSE(ink.isEmpty()) << label->text().toStdString();
    EXPECT_FALSE(ink.intersects(frame)) << label->text().toStdString();
    EXPECT_GE(label->width(), label->sizeHint().width())
        << label->text().toStdString();  // not cut short
    captions.append({label->text(), ink.boundingRect()});
  }
  for (const auto& [text, ink] : captions) {
    for (const QRect& box : boxes)
      EXPECT_FALSE(ink.adjusted(-kClear, -kClear, kClear, kClear).intersects(box))
          << text.toStdString();
  }
  for (auto* button : dialog->findChildren<QPushButton*>()) {
    const QRect ink = Ink(button, QPalette::ButtonText).boundingRect();
    EXPECT_TRUE(InDialog(button).adjusted(3, 3, -3, -3).contains(ink))
        << button->text().toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, DialogPixels, ::testing::Values("C", "es"),
                         [](const auto& info) {
                           return std::string(info.param) == "C" ? "English" : "Spanish";
                         });

}  // namespace
