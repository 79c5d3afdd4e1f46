// The adapter's identity in the status bar, the setup dialog's live list and reconnection, on
// the real FTDI driver: a pulled adapter removes its node and sysfs entry as the kernel does.

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QStatusBar>
#include <cstdio>
#include <fstream>

#include "LabLine.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "Waiting.h"
#include "app/MainForm.h"
#include "app/PortReconnect.h"
#include "app/PortStatus.h"
#include "app/Workflow.h"
#include "portconfig/ComComboBox.h"
#include "portconfig/ComSetupForm.h"
#include "portconfig/PortIdentity.h"
#include "serial/ComPort.h"

using namespace vardelio;
using namespace vardelio::lab;
using vardelio::test::ServeUntil;
using vardelio::test::SettingsPath;
using vardelio::test::TRecordingPresenter;

namespace {

const char* const kAdapter = "/dev/ttyUSB0";
const char* const kHeldElsewhere = "/dev/ttyUSB1";

TEST(AdapterFollow, TheStatusBarNamesTheAdapterFromTheGuestsSysfs) {
  const TPortIdentity identity = ReadPortIdentity(kAdapter);
  EXPECT_EQ(identity.device, "ttyUSB0");
  EXPECT_FALSE(identity.model.isEmpty());
  EXPECT_FALSE(identity.serial.isEmpty());
  TComPort port;
  port.SetPort(kAdapter);
  port.SetEvents({});
  QStatusBar bar;
  TPortStatus status(&port, &bar);
  port.OpenPort();
  EXPECT_EQ(status.Text(),
            PortWithDescription(identity) + QString::fromUtf8(" · 9600 8N1 · abierto"));
  std::printf("status bar: %s\n", status.Text().toUtf8().constData());
  port.ClosePort();
  EXPECT_EQ(status.State(), "cerrado");
}

TEST(AdapterFollow, TheDialogsListFollowsAnUnplugAndAReplug) {
  TComSetupFrm dialog;
  TComComboBox* box = dialog.Combos()[0];
  const auto listed = [&] {
    for (int i = 0; i < box->count(); ++i)
      if (box->itemData(i).toString() == "ttyUSB0") return box->itemText(i);
    return QString();
  };
  EXPECT_EQ(listed(), PortWithDescription(ReadPortIdentity(kAdapter)));
  EXPECT_TRUE(listed().contains(QString::fromUtf8(" — ")));
  Tell("unplug");
  EXPECT_TRUE(ServeUntil([&] { return listed().isEmpty(); }, 15000));
  Tell("replug");
  EXPECT_TRUE(ServeUntil([&] { return !listed().isEmpty(); }, 15000));
  std::printf("listed again: %s\n", listed().toUtf8().constData());
}

// On: the adapter pulled while the window waits gives one box, and after the replug the next
// send succeeds without a restart. Off: the port stays as it was, and every send fails.
TEST(AdapterFollow, ReconnectionOnTakesTheAdapterBackOffLeavesThePortAsItWas) {
  for (const bool on : {true, false}) {
    SCOPED_TRACE(on ? "on" : "off");
    Tell("unit start --delay 2000");
    std::ofstream(SettingsPath()) << "[ComPort1]\nPort=" << kAdapter << "\n[Options]\n"
                                  << "ReconnectPort=" << (on ? "Yes" : "No") << "\n";
    TRecordingPresenter boxes;
    auto form = std::make_unique<TForm1>();
    ASSERT_TRUE(form->ComPort1()->Connected());
    form->findChild<QAction*>("RecibirProgramacin1")->trigger();
    Tell("unplug");
    ASSERT_TRUE(WaitForNode(kAdapter, false));
    EXPECT_TRUE(
        ServeUntil([&] { return boxes.messages.size() + boxes.errors.size() >= 1; }, 20000));
    ServeUntil([] { return false; }, 1000);
    EXPECT_EQ(boxes.messages.size() + boxes.errors.size(), 1)
        << boxes.errors.join('|').toStdString();
    EXPECT_EQ(form->PortStatus().State(), "desconectado");
    EXPECT_EQ(form->ComPort1()->Connected(), !on);
    Tell("replug");
    // Off, the window still holds the old line, so the kernel gives the adapter a new name.
    ASSERT_TRUE(WaitForNode(on ? kAdapter : kHeldElsewhere, true));
    Tell("unit start");  // joined to the new far end
    EXPECT_TRUE(ServeUntil([&] { return !on || form->ComPort1()->Connected(); }, 15000));
    form->findChild<QLineEdit*>("Edit1")->setText("1B2C");
    form->findChild<QLineEdit*>("Edit2")->setText("12345678");
    const qsizetype errorsBefore = boxes.errors.size();
    form->findChild<QAction*>("EnviarProgramacin1")->trigger();
    if (on) {
      EXPECT_TRUE(ServeUntil([&] { return boxes.messages.size() >= 2; }, 20000));
      EXPECT_EQ(boxes.messages.value(1), messages::kProgrammed);
      EXPECT_EQ(boxes.errors.size(), errorsBefore);
      EXPECT_EQ(form->PortStatus().State(), "abierto");
    } else {
      EXPECT_EQ(boxes.errors.size(), errorsBefore + 1);
      EXPECT_EQ(boxes.errors.value(errorsBefore).left(25), "WriteFile function failed");
    }
    form.reset();
    Tell("unit stop");
    if (!on) {  // the adapter back under its own name for the tests after this one
      Tell("unplug");
      ASSERT_TRUE(WaitForNode(kHeldElsewhere, false));
      Tell("replug");
      ASSERT_TRUE(WaitForNode(kAdapter, true));
    }
  }
}

}  // namespace
