#include <gtest/gtest.h>

#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "FakeComPlatform.h"
#include "FakeSysfs.h"
#include "app/PortStatus.h"
#include "portconfig/PortIdentity.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "serial/platform/ComPlatform.h"

using namespace vardelio;
using vardelio::test::TFakeComPlatform;
using vardelio::test::TFakeSysfs;

namespace {

namespace fs = std::filesystem;

TEST(PortIdentity, NamesTheAdapterBehindAPortFromSysfs) {
  TFakeSysfs sysfs{{{"ttyS0", 4}}};
  sysfs.AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A1B2C3");
  sysfs.AddUsbAdapter("ttyUSB1", "Prolific", "", "");
  sysfs.AddUsbAdapter("ttyACM0", "", "", "");
  // A by-id link leads to the adapter whatever its number.
  QTemporaryDir dev;
  const fs::path device = fs::path(dev.path().toStdString()) / "ttyUSB0";
  std::ofstream(device).put('\n');
  const fs::path byId = fs::path(dev.path().toStdString()) / "usb-FTDI_FT232R_A1B2C3-if00";
  fs::create_symlink(device, byId);
  const struct {
    std::string port;
    const char* shown;
  } cases[] = {
      {"ttyUSB0", "ttyUSB0 — FT232R USB UART (A1B2C3)"},
      {byId.string(), "ttyUSB0 — FT232R USB UART (A1B2C3)"},
      {"ttyUSB1", "ttyUSB1 — Prolific"},
      {"ttyACM0", "ttyACM0"},
      {"ttyS0", "ttyS0"},
      {"COM1", "ttyS0"},
      {"ttyUSB7", "ttyUSB7"},  // not there: the name alone
  };
  for (const auto& c : cases)
    EXPECT_EQ(PortWithDescription(ReadPortIdentity(c.port)), QString::fromUtf8(c.shown)) << c.port;
}

// Fixture: the window's status bar over a port on the recording fake.
class PortStatusBar : public ::testing::Test {
 protected:
  PortStatusBar() {
    sysfs.AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A1B2C3");
    port.SetEvents({});
    port.SetPort("ttyUSB0");
  }
  QString Shown() const { return bar.findChild<QLabel*>("PortStatus")->text(); }

  TFakeSysfs sysfs{{{"ttyS0", 4}}};
  TFakeComPlatform fake;
  TComPort port{nullptr, &fake};
  QStatusBar bar;
  TPortStatus status{&port, &bar};
};

TEST_F(PortStatusBar, ShowsTheAdapterItsSettingsAndItsStateInWords) {
  const auto open = [&] { port.OpenPort(); };
  const auto close = [&] { port.ClosePort(); };
  const auto hangUp = [&] {
    fake.lineErrors = CE_IOE;
    port.ProcessError();
  };
  const auto refused = [&](int code) {
    return [&, code] {
      fake.Fail("OpenLine", code);
      try {
        port.OpenPort();
      } catch (const EComPort& error) {
        status.NoteFailure(error);
      }
      fake.failures.clear();
    };
  };
  const auto settings = [&] {
    port.SetBaudRate(br19200);
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prEven);
    port.SetStopBits(sbTwoStopBits);
    status.Refresh();
  };
  const auto custom = [&] {
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetStopBits(sbOne5StopBits);
    port.Parity().SetBits(prMark);
    status.Refresh();
  };
  const auto writeFails = [&] {
    try {
      port.WriteText("S");
    } catch (const EComPort& error) {
      status.NoteFailure(error);  // not an open: the state keeps its own words
    }
  };
  const struct {
    const char* step;
    std::function<void()> action;
    const char* shown;
  } steps[] = {
      {"created", [&] { status.Refresh(); },
       "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · cerrado"},
      {"opened", open, "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · abierto"},
      {"hung up", hangUp, "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · desconectado"},
      {"closed", close, "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · cerrado"},
      {"absent", refused(ENOENT),
       "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · cerrado: el puerto no existe"},
      {"write on closed", writeFails,
       "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · cerrado: el puerto no existe"},
      {"no permission", refused(EACCES),
       "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · cerrado: sin permiso (grupo dialout)"},
      {"held", refused(EBUSY),
       "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · cerrado: en uso por otro programa"},
      {"held too", refused(EAGAIN),
       "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · cerrado: en uso por otro programa"},
      {"reopened", open, "ttyUSB0 — FT232R USB UART (A1B2C3) · 9600 8N1 · abierto"},
      {"settings", settings, "ttyUSB0 — FT232R USB UART (A1B2C3) · 19200 7E2 · abierto"},
      {"custom", custom, "ttyUSB0 — FT232R USB UART (A1B2C3) · 250000 7M1.5 · abierto"},
      {"away",
       [&] {
         close();
         status.SetAway(true);
       },
       "ttyUSB0 — FT232R USB UART (A1B2C3) · 250000 7M1.5 · desconectado"},
      {"back",
       [&] {
         status.SetAway(false);
         open();
       },
       "ttyUSB0 — FT232R USB UART (A1B2C3) · 250000 7M1.5 · abierto"},
      {"another port", [&] { port.SetPort("ttyS0"); }, "ttyS0 · 250000 7M1.5 · abierto"},
  };
  for (const auto& s : steps) {
    s.action();
    EXPECT_EQ(Shown(), QString::fromUtf8(s.shown)) << s.step;
  }
}

TEST(PortStatusWords, EveryCodeAnOpenGivesHasWords) {
  const struct {
    int code;
    const char* words;
  } cases[] = {{ENOENT, "el puerto no existe"},      {ENXIO, "el puerto no existe"},
               {ENODEV, "el puerto no existe"},      {EACCES, "sin permiso (grupo dialout)"},
               {EAGAIN, "en uso por otro programa"}, {EBUSY, "en uso por otro programa"},
               {EIO, "el adaptador no responde"},    {ENOTTY, "no es un puerto serie"},
               {EINVAL, "error del sistema 22"}};
  for (const auto& c : cases)
    EXPECT_EQ(StateWordsForCode(c.code), c.words) << c.code;
}

}  // namespace
