// The USB adapter pulled out under an open port, and plugged back; the port list follows it.

#include <gtest/gtest.h>

#include <QStringList>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "LabLine.h"
#include "Raised.h"
#include "Waiting.h"
#include "portconfig/PortList.h"
#include "serial/ComPort.h"

using namespace vardelio;
using namespace vardelio::lab;
using vardelio::test::Raised;
using vardelio::test::ServeUntil;

namespace {

const char* const kAdapter = "/dev/ttyUSB0";

QStringList Ports() {
  QStringList ports;
  ListSerialPorts(ports);
  return ports;
}

// Plugs the adapter back and checks that the same name opens again and carries data.
void ReplugAndTalk() {
  Tell("mode usb echo");
  Tell("replug");
  ASSERT_TRUE(WaitForNode(kAdapter, true));
  TComPort port;
  port.SetPort(kAdapter);
  port.SetEvents({});
  port.OpenPort();
  // What the far end had sent before the unplug may still trickle in.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  port.PurgeBuffers(true, false);
  EXPECT_EQ(port.WriteText("hello"), 5);
  std::string back;
  char buffer[16];
  for (int i = 0; i < 5000 && back.size() < 5; ++i) {
    back.append(buffer, std::size_t(port.ReadBytes(buffer, sizeof buffer)));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(back, "hello");
  port.ClosePort();
  Tell("mode usb sink");
}

TEST(AdapterPortList, ListsRealPortsNotGhostsAndFollowsTheAdapter) {
  QStringList ports = Ports();
  EXPECT_TRUE(ports.contains("ttyS0")) << ports.join(' ').toStdString();
  EXPECT_TRUE(ports.contains("ttyS1"));
  EXPECT_TRUE(ports.contains("ttyUSB0"));
  EXPECT_FALSE(ports.contains("ttyS2"));
  EXPECT_FALSE(ports.contains("ttyS3"));
  Tell("unplug");
  ASSERT_TRUE(WaitForNode(kAdapter, false));
  // The kernel removes the device node a little before the port's entry in sysfs.
  EXPECT_TRUE(ServeUntil([&] { return !(ports = Ports()).contains("ttyUSB0"); }, 15000))
      << ports.join(' ').toStdString();
  EXPECT_TRUE(ports.contains("ttyS1"));
  ReplugAndTalk();
  EXPECT_TRUE(Ports().contains("ttyUSB0"));
}

enum TScenario { scHalfReply, scFlood };
struct TUnplugCase {
  TSyncMethod delivery;
  TScenario scenario;
};

std::string CaseName(const TUnplugCase& c) {
  static const char* const kDelivery[] = {"ThreadSync", "WindowSync", "NoSync"};
  return std::string(kDelivery[c.delivery]) + (c.scenario == scFlood ? "Flood" : "HalfReply");
}

class AdapterUnplug : public ::testing::TestWithParam<TUnplugCase> {};

TEST_P(AdapterUnplug, ReportsTheLossOnceStaysQuietClosesAndOpensAgainAfterReplug) {
  const TUnplugCase c = GetParam();
  Tell(c.scenario == scFlood ? "mode usb flood" : "mode usb sink");
  TComPort port;
  port.SetPort(kAdapter);
  port.SetBaudRate(br115200);
  port.SetSyncMethod(c.delivery);
  std::atomic<int> ioErrors{0};
  std::atomic<long> flooded{0};
  port.OnError = TComErrorEvent([&](QObject*, TComErrors errors) {
    if (errors.Contains(ceIO)) ++ioErrors;
  });
  if (c.scenario == scFlood) {
    port.OnRxChar = TRxCharEvent([&](QObject* sender, int count) {
      std::string buffer(std::size_t(count), '\0');
      flooded += static_cast<TComPort*>(sender)->ReadBytes(buffer.data(), count);
    });
  }
  port.OpenPort();
  if (c.scenario == scFlood) {
    ASSERT_TRUE(ServeUntil([&] { return flooded > 20000; }, 20000));
  } else {
    Tell("send usb 10");  // a reply of ten bytes, of which five are read
    ASSERT_TRUE(ServeUntil([&] { return port.BytesWaiting() >= 10; }, 10000));
    char half[5];
    EXPECT_EQ(port.ReadBytes(half, 5), 5);
  }
  Tell("unplug");
  EXPECT_TRUE(ServeUntil([&] { return ioErrors > 0 && port.EventLoopEnded(); }, 15000));
  ServeUntil([] { return false; }, 300);
  EXPECT_EQ(ioErrors, 1);
  // Nothing left spinning: the process barely uses the processor while the port sits there.
  const long cpuBefore = CpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(CpuMs() - cpuBefore, 100);
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  // The driver hangs the line up before the kernel removes its device node.
  ASSERT_TRUE(WaitForNode(kAdapter, false));
  const EComPort error = Raised([&] { port.OpenPort(); });
  EXPECT_EQ(error.PortErrorCode(), 1);
  EXPECT_EQ(error.SystemCode(), ENOENT);
  ReplugAndTalk();
}

INSTANTIATE_TEST_SUITE_P(Lab, AdapterUnplug,
                         ::testing::Values(TUnplugCase{smThreadSync, scHalfReply},
                                           TUnplugCase{smWindowSync, scHalfReply},
                                           TUnplugCase{smNone, scHalfReply},
                                           TUnplugCase{smThreadSync, scFlood},
                                           TUnplugCase{smWindowSync, scFlood},
                                           TUnplugCase{smNone, scFlood}),
                         [](const auto& info) { return CaseName(info.param); });

}  // namespace
