// The window's port with reconnection on and off, over the recording fake and a device folder
// of the test's own.

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "FakeComPlatform.h"
#include "FakeSysfs.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "Waiting.h"
#include "app/MainForm.h"
#include "app/PortReconnect.h"
#include "app/PortStatus.h"
#include "framework/Dialogs.h"
#include "portconfig/DeviceWatch.h"
#include "serial/ComPort.h"
#include "serial/SystemCodeText.h"
#include "serial/platform/ComPlatform.h"

using namespace vardelio;
using vardelio::test::ReadAll;
using vardelio::test::ServeUntil;
using vardelio::test::SettingsPath;
using vardelio::test::TRecordingPresenter;

namespace {

// Reconnection, on and off, for each way an adapter goes: its node removed, its line hung up.
// Off, the window is as it always was: the port is left as it is and nothing reopens it.
TEST(Reconnection, OnTheAdapterIsLetGoAndTakenBackOffNothingChanges) {
  for (const bool on : {false, true}) {
    for (const bool hangUp : {false, true}) {
      SCOPED_TRACE(std::string(on ? "on" : "off") + (hangUp ? ", hung up" : ", node removed"));
      TRecordingPresenter boxes;
      SetErrorExplainer(&ExplainPortError);  // as the program's start does
      const auto explainer = qScopeGuard([] { SetErrorExplainer({}); });
      vardelio::test::TFakeSysfs sysfs({});
      sysfs.AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A1B2C3");
      QTemporaryDir dev;
      SetDevFolder(dev.path().toStdString());
      const std::string node = dev.path().toStdString() + "/ttyUSB0";
      std::ofstream(node).put('\n');
      std::ofstream(SettingsPath())
          << "[ComPort1]\nPort=" << node << "\n[" << kReconnectSection << "]\n"
          << kReconnectKey << "=" << (on ? "Yes" : "No") << "\n";
      vardelio::test::TFakeComPlatform fake;
      TForm1 form(nullptr, &fake);
      auto* item = form.findChild<QAction*>(QStringLiteral("ReconectarPuerto1"));
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(item->isChecked(), on);
      const auto state = [&] { return form.PortStatus().State(); };
      EXPECT_EQ(state(), "abierto");
      if (hangUp) {  // told, as a real line tells it, before the node goes
        fake.Locked([&] { fake.lineErrors = CE_IOE; });
        fake.PushEvents(EV_ERR);
        EXPECT_TRUE(ServeUntil(
            [&] { return state() == "desconectado" && form.ComPort1()->Connected() != on; }));
      }
      std::filesystem::remove(node);
      EXPECT_TRUE(ServeUntil([&] { return state() == "desconectado" || (!on && !hangUp); }));
      QCoreApplication::processEvents();
      EXPECT_EQ(form.ComPort1()->Connected(), !on);
      EXPECT_EQ(state(), !on && !hangUp ? "abierto" : "desconectado");
      // A receive while it is away: one box, in words.
      auto* receive = form.findChild<QAction*>(QStringLiteral("RecibirProgramacin1"));
      if (on) {
        receive->trigger();
        EXPECT_EQ(boxes.errors, QStringList{"WriteFile function failed (win error code: 9)"});
        ASSERT_EQ(boxes.explanations.size(), 1);
        EXPECT_TRUE(boxes.explanations[0].contains("Reconectar el puerto"));
        ServeUntil([&] { return !form.Timer1()->isActive(); });
      }
      const int opens = fake.Count("OpenLine");
      std::ofstream(node).put('\n');  // back
      EXPECT_TRUE(ServeUntil([&] { return !on || form.ComPort1()->Connected(); }));
      QCoreApplication::processEvents();
      EXPECT_EQ(fake.Count("OpenLine"), on ? opens + 1 : opens);
      EXPECT_EQ(state(), !on && hangUp ? "desconectado" : "abierto");
      if (on) {
        fake.Locked([&] { fake.written.clear(); });
        receive->trigger();
        EXPECT_EQ(boxes.errors.size(), 1);  // the next receive goes out
        std::string written;
        fake.Locked([&] { written = fake.written; });
        EXPECT_FALSE(written.empty());
        ServeUntil([&] { return !form.Timer1()->isActive(); });
      }
      SetDevFolder("");
    }
  }
}

TEST(Reconnection, TheChoiceIsKeptUnderItsOwnKey) {
  TRecordingPresenter boxes;
  std::filesystem::remove(SettingsPath());
  vardelio::test::TFakeComPlatform fake;
  {
    TForm1 form(nullptr, &fake);
    auto* item = form.findChild<QAction*>(QStringLiteral("ReconectarPuerto1"));
    EXPECT_FALSE(item->isChecked());  // off unless asked for
    item->trigger();
    EXPECT_TRUE(form.Reconnection().Enabled());
  }
  EXPECT_NE(ReadAll(SettingsPath()).find("[Options]\nReconnectPort=Yes\n"), std::string::npos);
  TForm1 form(nullptr, &fake);
  EXPECT_TRUE(form.findChild<QAction*>(QStringLiteral("ReconectarPuerto1"))->isChecked());
  form.findChild<QAction*>(QStringLiteral("ReconectarPuerto1"))->trigger();
  EXPECT_NE(ReadAll(SettingsPath()).find("ReconnectPort=No\n"), std::string::npos);
  EXPECT_TRUE(boxes.errors.isEmpty());
}

}  // namespace
