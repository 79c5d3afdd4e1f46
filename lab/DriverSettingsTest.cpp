// The port's settings as the real drivers take them: read back from the driver's own termios.

#include <asm/termbits.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "LabLine.h"
#include "Raised.h"
#include "serial/ComPort.h"

using namespace vardelio;
using vardelio::lab::TProbe;
using vardelio::test::Raised;

namespace {

struct TLine {
  const char* name;
  const char* device;
};
const TLine kUart{"uart", "/dev/ttyS1"};
const TLine kAdapter{"usb", "/dev/ttyUSB0"};

class DriverSettings : public ::testing::TestWithParam<TLine> {
 protected:
  DriverSettings() : probe(GetParam().device) {
    port.SetPort(GetParam().device);
    port.SetEvents({});
  }
  void SetUp() override {
    ASSERT_TRUE(probe.Valid()) << GetParam().device;
    port.OpenPort();
  }

  // What a refused setting raises: device control (7) with the driver's "invalid" (22).
  template <typename F>
  void ExpectRefused(F&& change) {
    const EComPort error = Raised(change);
    EXPECT_EQ(error.PortErrorCode(), 7);
    EXPECT_EQ(error.SystemCode(), EINVAL);
  }

  TProbe probe;
  TComPort port;
};

// Speeds: what the driver reports back after the port asked for each (0: refused), and what
// the UART's divisor latch makes it run at. The 8250 driver reports the speed asked for, not
// the one its divisor gives: 31250 takes divisor 4 of 115200 and runs at 28800, 8 % slow,
// which neither the driver's termios nor the port can tell.
struct TSpeedRow {
  TBaudRate rate;
  std::uint32_t custom;
  std::uint32_t uart, adapter, uartRuns;
};
constexpr TSpeedRow kSpeeds[] = {
    {br110, 0, 110, 110, 110},
    {br300, 0, 300, 300, 300},
    {br600, 0, 600, 600, 600},
    {br1200, 0, 1200, 1200, 1200},
    {br2400, 0, 2400, 2400, 2400},
    {br4800, 0, 4800, 4800, 4800},
    {br9600, 0, 9600, 9600, 9600},
    {br14400, 0, 14400, 14400, 14400},
    {br19200, 0, 19200, 19200, 19200},
    {br38400, 0, 38400, 38400, 38400},
    {br56000, 0, 56000, 56000, 57600},
    {br57600, 0, 57600, 57600, 57600},
    {br115200, 0, 115200, 115200, 115200},
    {br128000, 0, 0, 128000, 0},
    {br256000, 0, 0, 256000, 0},
    {brCustom, 31250, 31250, 31250, 28800},
};

TEST_P(DriverSettings, EverySpeedIsTakenOrRefusedAndAlwaysReadsBackAsTheDriverRunsIt) {
  const bool uart = GetParam().name == std::string("uart");
  for (const TSpeedRow& row : kSpeeds) {
    const std::uint32_t expected = uart ? row.uart : row.adapter;
    const std::uint32_t before = probe.Termios().ospeed;
    auto change = [&] {
      if (row.rate == brCustom) port.SetCustomBaudRate(std::int32_t(row.custom));
      port.SetBaudRate(row.rate);
    };
    const std::uint32_t wanted = row.rate == brCustom ? row.custom : BaudRateValue(row.rate);
    if (expected == 0) {
      ExpectRefused(change);
      // A refused speed leaves the line as it was.
      EXPECT_EQ(probe.Termios().ospeed, before) << wanted;
      port.SetBaudRate(br9600);
    } else {
      change();
      const auto t = probe.Termios();
      EXPECT_EQ(t.ospeed, expected) << wanted;
      EXPECT_EQ(t.ispeed, expected) << wanted;
      if (uart) {
        EXPECT_EQ(probe.UartRunsAt(), row.uartRuns) << wanted;
      }
    }
  }
}

TEST_P(DriverSettings, EveryFramingReadsBackAsSet) {
  constexpr std::uint32_t kSizes[] = {CS5, CS6, CS7, CS8};
  constexpr std::uint32_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                         PARENB | CMSPAR};
  for (int size = 0; size < 4; ++size) {
    for (int parity = 0; parity < 5; ++parity) {
      for (bool two : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "bits " << size + 5 << " parity " << parity << " two stops " << two);
        // With five data bits the longer stop is one and a half bits.
        const TStopBits stop = !two ? sbOneStopBit : size == 0 ? sbOne5StopBits : sbTwoStopBits;
        auto change = [&] {
          port.BeginBatch();
          port.SetDataBits(TDataBits(size));
          port.Parity().SetBits(TParityBits(parity));
          port.SetStopBits(stop);
          port.EndBatch();
        };
        constexpr std::uint32_t kFraming = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
        // Where the chip itself refuses (the emulated one has no mark or space parity), ftdi_sio
        // says so only in the kernel's log and reads back what it was given.
        const std::uint32_t before = probe.Termios().cflag;
        // ftdi_sio has no six-bit characters: it keeps the size it had and takes the rest.
        if (GetParam().name == std::string("usb") && size == 1) {
          ExpectRefused(change);
          EXPECT_EQ(probe.Termios().cflag & kFraming, before & kFraming);
          continue;
        }
        change();
        EXPECT_EQ(probe.Termios().cflag & kFraming,
                  kSizes[size] | kParities[parity] | (two ? CSTOPB : 0));
      }
    }
  }
}

TEST_P(DriverSettings, HardwareAndSoftwareFlowControlReadBack) {
  port.FlowControl().SetFlowControl(fcHardware);
  auto t = probe.Termios();
  EXPECT_TRUE(t.cflag & CRTSCTS);
  EXPECT_FALSE(t.iflag & (IXON | IXOFF));
  port.FlowControl().SetFlowControl(fcSoftware);
  t = probe.Termios();
  EXPECT_FALSE(t.cflag & CRTSCTS);
  EXPECT_EQ(t.iflag & (IXON | IXOFF), std::uint32_t(IXON | IXOFF));
  EXPECT_EQ(t.start, 17);
  EXPECT_EQ(t.stop, 19);
  port.FlowControl().SetXonChar('A');
  port.FlowControl().SetXoffChar('B');
  t = probe.Termios();
  EXPECT_EQ(t.start, 'A');
  EXPECT_EQ(t.stop, 'B');
  port.FlowControl().SetFlowControl(fcNone);
  t = probe.Termios();
  EXPECT_FALSE(t.cflag & CRTSCTS);
  EXPECT_FALSE(t.iflag & (IXON | IXOFF));
}

TEST_P(DriverSettings, ParityCheckingAndMarkedInputReadBack) {
  EXPECT_EQ(probe.Termios().iflag & (INPCK | PARMRK), std::uint32_t(PARMRK));
  port.Parity().SetBits(prEven);
  port.Parity().SetCheck(true);
  EXPECT_EQ(probe.Termios().iflag & (INPCK | PARMRK), std::uint32_t(INPCK | PARMRK));
  EXPECT_TRUE(probe.Termios().cflag & CLOCAL);
  EXPECT_TRUE(probe.Termios().cflag & CREAD);
}

INSTANTIATE_TEST_SUITE_P(Lab, DriverSettings, ::testing::Values(kUart, kAdapter),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
