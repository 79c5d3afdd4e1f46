#include <gtest/gtest.h>

#include "FakeComPlatform.h"
#include "Raised.h"
#include "RecordingPresenter.h"
#include "serial/ComPort.h"

using namespace vardelio;
using vardelio::test::Raised;
using vardelio::test::TFakeComPlatform;
using vardelio::test::TRecordingPresenter;

namespace {

class ComPort : public ::testing::Test {
 protected:
  // Without events no event thread runs, so the calls come in a fixed order.
  ComPort() { port.SetEvents({}); }

  void Open() {
    port.OpenPort();
    fake.calls.clear();
  }

  TFakeComPlatform fake;
  TComPort port{nullptr, &fake};
};

using Calls = std::vector<std::string>;

TEST(ComPortDefaults, ANewPortHasItsDefaults) {
  TComPort port;
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_EQ(port.Events().ToBits(), 0x3FF);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.EventWatchPriority(), tpNormal);
  EXPECT_FALSE(port.HasBufferLink());
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.LineHandle(), kInvalidLineHandle);
  EXPECT_TRUE(port.RxCharTriggers());
  EXPECT_EQ(port.Parity().OwnerPort, &port);
  EXPECT_EQ(port.Buffer().OwnerPort, &port);
}

TEST_F(ComPort, EnumerationsAreOneByteWithOrdinalsByPosition) {
  static_assert(sizeof(TBaudRate) == 1 && sizeof(TSyncMethod) == 1 && sizeof(TComEvent) == 1);
  static_assert(sizeof(TComEvents) == 2 && sizeof(TComErrors) == 1);
  EXPECT_EQ(int(br256000), 15);
  EXPECT_EQ(int(rtsToggle), 3);
  EXPECT_EQ(int(evRx80Full), 9);
  EXPECT_EQ(int(ceTxFull), 7);
  EXPECT_EQ(int(smNone), 2);
}

TEST_F(ComPort, OpeningAppliesQueueSizesThenDeviceControlThenTimeouts) {
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(fake.calls, (Calls{"OpenLine(COM1)", "SetupComm(1024,1024)", "SetCommState(9600,1)",
                               "SetCommTimeouts(4294967295,0,0,100,1000)", "GetCommModemStatus()",
                               "GetCommModemStatus()", "GetCommModemStatus()"}));
  fake.calls.clear();
  port.OpenPort();  // already open: nothing
  EXPECT_TRUE(fake.calls.empty());
  port.ClosePort();
  EXPECT_EQ(fake.calls, (Calls{"PurgeComm(3)", "CloseLine()"}));
  EXPECT_EQ(port.LineHandle(), kInvalidLineHandle);
  fake.calls.clear();
  port.ClosePort();
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(ComPort, SettersDoNothingForTheStoredValueAndNothingOnAClosedPort) {
  port.SetBaudRate(br19200);
  port.Parity().SetBits(prEven);
  port.FlowControl().SetXonXoffIn(true);
  port.Timeouts().SetReadTotalConstant(5);
  port.Buffer().SetInputSize(4096);
  port.SetPort("COM3");
  EXPECT_TRUE(fake.calls.empty());

  Open();
  port.SetBaudRate(br19200);
  port.Parity().SetBits(prEven);
  port.Timeouts().SetReadTotalConstant(5);
  port.Buffer().SetInputSize(4096);
  EXPECT_TRUE(fake.calls.empty());
  port.SetBaudRate(br38400);
  port.Timeouts().SetWriteTotalConstant(50);
  port.Buffer().SetOutputSize(2048);
  EXPECT_EQ(fake.Names(), (Calls{"SetCommState", "SetCommTimeouts", "SetupComm"}));
  EXPECT_EQ(fake.dcb.BaudRate, 38400u);
}

TEST_F(ComPort, ABatchAppliesOnceAtTheOutermostEnd) {
  Open();
  port.BeginBatch();
  port.BeginBatch();
  port.SetBaudRate(br115200);
  port.SetDataBits(dbSeven);
  port.Parity().SetCheck(true);
  port.Buffer().SetInputSize(4096);
  port.Timeouts().SetReadInterval(10);
  port.EndBatch();
  EXPECT_TRUE(fake.calls.empty());
  port.EndBatch();
  EXPECT_EQ(fake.Names(), (Calls{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  fake.calls.clear();
  port.EndBatch();  // unmatched
  EXPECT_EQ(port.BatchDepth(), 0);
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(ComPort, OpeningInsideABatchAppliesNothingUntilItEnds) {
  port.BeginBatch();
  port.OpenPort();
  fake.calls.clear();
  port.EndBatch();
  EXPECT_EQ(fake.Names(), (Calls{"SetupComm", "SetCommState", "SetCommTimeouts"}));
}

struct DcbCase {
  const char* name;
  std::function<void(TComPort&)> configure;
  std::function<void(const TDcb&)> check;
};

class DeviceControl : public ::testing::TestWithParam<DcbCase> {};

TEST_P(DeviceControl, RecordFollowsTheSettings) {
  TComPort port;
  GetParam().configure(port);
  const TDcb dcb = BuildDeviceControl(port);
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_TRUE(dcb.Flags & dcb::fBinary);
  EXPECT_EQ(dcb.Flags & ~0x3FFFu, 0u);  // fAbortOnError and above stay clear
  GetParam().check(dcb);
}

INSTANTIATE_TEST_SUITE_P(
    ComPort, DeviceControl,
    ::testing::Values(
        DcbCase{"Defaults", [](TComPort&) {},
                [](const TDcb& d) {
                  EXPECT_EQ(d.BaudRate, 9600u);
                  EXPECT_EQ(d.Flags, dcb::fBinary);
                  EXPECT_EQ(d.XonLim, 256);
                  EXPECT_EQ(d.XoffLim, 256);
                  EXPECT_EQ(d.ByteSize, 8);
                  EXPECT_EQ(d.Parity, 0);
                  EXPECT_EQ(d.StopBits, 0);
                  EXPECT_EQ(d.XonChar, 17);
                  EXPECT_EQ(d.XoffChar, 19);
                  EXPECT_EQ(d.ErrorChar, 0);
                  EXPECT_EQ(d.EvtChar, 0);
                }},
        DcbCase{"CustomRateOutsideTheTable",
                [](TComPort& p) {
                  p.SetBaudRate(brCustom);
                  p.SetCustomBaudRate(12345);
                },
                [](const TDcb& d) { EXPECT_EQ(d.BaudRate, 12345u); }},
        DcbCase{"CustomRateOnlyWithBrCustom", [](TComPort& p) { p.SetCustomBaudRate(12345); },
                [](const TDcb& d) { EXPECT_EQ(d.BaudRate, 9600u); }},
        DcbCase{"ReplaceWithoutCheckDoesNothing",
                [](TComPort& p) {
                  p.Parity().SetReplace(true);
                  p.Parity().SetReplaceChar('?');
                },
                [](const TDcb& d) {
                  EXPECT_FALSE(d.Flags & dcb::fParity);
                  EXPECT_FALSE(d.Flags & dcb::fErrorChar);
                  EXPECT_EQ(d.ErrorChar, 0);
                }},
        DcbCase{"CheckAndReplace",
                [](TComPort& p) {
                  p.Parity().SetBits(prMark);
                  p.Parity().SetCheck(true);
                  p.Parity().SetReplace(true);
                  p.Parity().SetReplaceChar('?');
                },
                [](const TDcb& d) {
                  EXPECT_TRUE(d.Flags & dcb::fParity);
                  EXPECT_TRUE(d.Flags & dcb::fErrorChar);
                  EXPECT_EQ(d.ErrorChar, '?');
                  EXPECT_EQ(d.Parity, 3);
                }},
        DcbCase{"RtsToggle", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); },
                [](const TDcb& d) { EXPECT_EQ(dcb::RtsControl(d.Flags), 3u); }},
        DcbCase{"HardwarePresetWithDtrHandshake",
                [](TComPort& p) {
                  p.FlowControl().SetFlowControl(fcHardware);
                  p.FlowControl().SetControlDTR(dtrHandshake);
                },
                [](const TDcb& d) {
                  EXPECT_TRUE(d.Flags & dcb::fOutxCtsFlow);
                  EXPECT_EQ(dcb::RtsControl(d.Flags), 2u);
                  EXPECT_EQ(dcb::DtrControl(d.Flags), 2u);
                }},
        DcbCase{"EveryOtherSwitch",
                [](TComPort& p) {
                  auto& f = p.FlowControl();
                  f.SetOutDSRFlow(true);
                  f.SetDSRSensitivity(true);
                  f.SetTxContinueOnXoff(true);
                  f.SetXonXoffOut(true);
                  f.SetXonXoffIn(true);
                  f.SetXonChar('a');
                  f.SetXoffChar('b');
                  p.SetDiscardNull(true);
                  p.SetEventChar('Z');
                  p.SetDataBits(dbFive);
                  p.SetStopBits(sbOne5StopBits);
                },
                [](const TDcb& d) {
                  EXPECT_EQ(d.Flags, dcb::fBinary | dcb::fOutxDsrFlow | dcb::fDsrSensitivity |
                                         dcb::fTXContinueOnXoff | dcb::fOutX | dcb::fInX |
                                         dcb::fNull);
                  EXPECT_EQ(d.XonChar, 'a');
                  EXPECT_EQ(d.XoffChar, 'b');
                  EXPECT_EQ(d.EvtChar, 'Z');
                  EXPECT_EQ(d.ByteSize, 5);
                  EXPECT_EQ(d.StopBits, 1);
                }},
        DcbCase{"LimitsAreAQuarterOfTheInputKeptTo16Bits",
                [](TComPort& p) { p.Buffer().SetInputSize(300000); },
                [](const TDcb& d) { EXPECT_EQ(d.XonLim, std::uint16_t(75000)); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ComPort, TimeoutsGoToThePlatformAsUnsigned) {
  const TCommTimeouts t = BuildCommTimeouts(port.Timeouts());
  EXPECT_EQ(t.ReadIntervalTimeout, 4294967295u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(ComPort, FlowControlPresetsRoundTrip) {
  auto& flow = port.FlowControl();
  for (TFlowControl preset : {fcHardware, fcSoftware, fcNone}) {
    flow.SetFlowControl(preset);
    EXPECT_EQ(flow.FlowControl(), preset);
  }
  flow.SetFlowControl(fcHardware);
  flow.SetOutDSRFlow(true);
  for (TDTRFlowControl dtr : {dtrDisable, dtrEnable, dtrHandshake}) {
    flow.SetControlDTR(dtr);
    EXPECT_EQ(flow.FlowControl(), fcHardware);  // DTR and DSR never count
  }
  flow.SetControlDTR(dtrEnable);
  flow.SetControlRTS(rtsToggle);
  EXPECT_EQ(flow.FlowControl(), fcCustom);

  Open();
  flow.SetFlowControl(fcCustom);  // changes no switch, applies once more
  EXPECT_EQ(flow.ControlRTS(), rtsToggle);
  EXPECT_TRUE(flow.OutCTSFlow());
  EXPECT_EQ(fake.Names(), Calls{"SetCommState"});
  flow.SetFlowControl(fcNone);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.OutCTSFlow());
  EXPECT_EQ(flow.ControlDTR(), dtrEnable);
}

TEST_F(ComPort, BufferSizesRoundOddSizesDown) {
  Open();
  port.Buffer().SetInputSize(4097);
  EXPECT_EQ(port.Buffer().InputSize(), 4096);
  EXPECT_EQ(fake.calls, Calls{"SetupComm(4096,1024)"});
  port.Buffer().SetInputSize(4096);
  EXPECT_EQ(fake.calls.size(), 1u);
  port.Buffer().SetInputSize(-3);
  EXPECT_EQ(port.Buffer().InputSize(), -3);
}

TEST_F(ComPort, SyncMethodIsRefusedWhileOpen) {
  port.SetSyncMethod(smNone);
  Open();
  port.SetSyncMethod(smNone);  // the present value is always accepted
  const EComPort error = Raised([&] { port.SetSyncMethod(smWindowSync); });
  EXPECT_EQ(error.PortErrorCode(), 14);
  EXPECT_EQ(error.SystemCode(), -1);
  EXPECT_STREQ(error.what(), "Cannot set property while connected");
  EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(ComPort, EventsChangeOnAnOpenLineTouchesNothing) {
  Open();
  port.SetEvents({evRxChar});
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(port.Events(), TComEvents{evRxChar});
}

TEST_F(ComPort, ANewPortNameReopensAnOpenLine) {
  Open();
  port.SetPort("com1");  // byte for byte, so a change
  EXPECT_EQ(fake.Names(), (Calls{"PurgeComm", "CloseLine", "OpenLine", "SetupComm", "SetCommState",
                                 "SetCommTimeouts", "GetCommModemStatus", "GetCommModemStatus",
                                 "GetCommModemStatus"}));
  EXPECT_EQ(fake.calls[2], "OpenLine(com1)");
}

TEST_F(ComPort, OpenFailuresLeaveThePortClosedWithTheLineReleased) {
  const struct {
    const char* call;
    int code;
  } cases[] = {{"OpenLine", 1},
               {"SetupComm", 9},
               {"SetCommState", 7},
               {"SetCommTimeouts", 8},
               {"CreateStopSignal", 1}};  // no descriptors left for the event thread
  for (const auto& c : cases) {
    TFakeComPlatform platform;
    TComPort failing(nullptr, &platform);
    const bool threaded = std::string(c.call) == "CreateStopSignal";
    failing.SetEvents(threaded ? TComEvents{evRxChar} : TComEvents{});
    platform.Fail(c.call, 2);
    const EComPort error = Raised([&] { failing.OpenPort(); });
    EXPECT_EQ(error.PortErrorCode(), c.code) << c.call;
    EXPECT_EQ(error.SystemCode(), 2) << c.call;
    EXPECT_FALSE(failing.Connected()) << c.call;
    EXPECT_EQ(failing.LineHandle(), kInvalidLineHandle) << c.call;
    EXPECT_EQ(platform.Count("CloseLine"), std::string(c.call) == "OpenLine" ? 0 : 1) << c.call;
    EXPECT_FALSE(platform.open) << c.call;
    EXPECT_FALSE(failing.EventLoopEnded()) << c.call;  // no thread was left behind
  }
}

TEST_F(ComPort, AFailedApplyKeepsTheNewValue) {
  Open();
  fake.Fail("SetCommState", 22);
  const EComPort error = Raised([&] { port.SetBaudRate(br57600); });
  EXPECT_EQ(error.PortErrorCode(), 7);
  EXPECT_STREQ(error.what(), "SetCommState function failed (win error code: 22)");
  EXPECT_EQ(port.BaudRate(), br57600);
}

TEST_F(ComPort, ConnectedWhileLoadingOpensOnlyAfterLoading) {
  TRecordingPresenter boxes;
  port.BeginLoading();
  port.SetConnected(true);
  port.SetBaudRate(br4800);
  EXPECT_TRUE(fake.calls.empty());
  port.EndLoading();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(fake.dcb.BaudRate, 4800u);

  TFakeComPlatform absent;
  absent.Fail("OpenLine", 2);
  TComPort other(nullptr, &absent);
  other.SetEvents({});
  other.BeginLoading();
  other.SetConnected(true);
  other.EndLoading();  // reported, not raised
  EXPECT_FALSE(other.Connected());
  EXPECT_EQ(boxes.errors, QStringList{"Unable to open com port (win error code: 2)"});
}

TEST_F(ComPort, TheDestructorClosesTheLine) {
  {
    TComPort temporary(nullptr, &fake);  // with its event thread
    temporary.OpenPort();
  }
  EXPECT_FALSE(fake.open);
  EXPECT_EQ(fake.Count("CloseLine"), 1);
}

TEST_F(ComPort, SettingsObjectsCopyOnlyTheirOwnClass) {
  TComParity parity;
  parity.SetBits(prOdd);
  parity.SetCheck(true);
  Open();
  port.Parity().Assign(parity);  // copies without applying
  EXPECT_EQ(port.Parity().Bits(), prOdd);
  EXPECT_TRUE(fake.calls.empty());
  port.SetParity(parity);  // the port's own setter applies
  EXPECT_EQ(fake.Names(), Calls{"SetCommState"});
  TComBuffer buffer;
  try {
    port.Parity().Assign(buffer);
    ADD_FAILURE();
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Cannot assign a TComBuffer to a TComParity");
  }
}

// --- transfer over the fake

TEST_F(ComPort, WriteTextSendsTheBytesAndReturnsTheirCount) {
  Open();
  EXPECT_EQ(port.WriteText("L"), 1);
  EXPECT_EQ(fake.written, "L");
  fake.calls.clear();
  EXPECT_EQ(port.WriteText(""), 0);
  EXPECT_EQ(fake.Count("WriteFile"), 0);
}

TEST_F(ComPort, EmptyRequestsAreRefusedWithoutASystemCode) {
  Open();
  TIoRequestRef none;
  char buffer[4];
  const std::function<void()> operations[] = {[&] { port.StartWrite("x", 1, none); },
                                              [&] { port.StartRead(buffer, 4, none); },
                                              [&] { port.AwaitIo(none); }};
  for (const auto& operation : operations) {
    const EComPort error = Raised(operation);
    EXPECT_EQ(error.PortErrorCode(), 4);
    EXPECT_EQ(error.SystemCode(), -1);
    EXPECT_STREQ(error.what(), "Invalid Async parameter");
  }
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(ComPort, ReadBytesTakesWhatTheLineHolds) {
  Open();
  fake.input = "SOKZ";
  EXPECT_EQ(port.BytesWaiting(), 4);
  char buffer[8] = {};
  EXPECT_EQ(port.ReadBytes(buffer, 4), 4);
  EXPECT_STREQ(buffer, "SOKZ");
  EXPECT_EQ(port.BytesWaiting(), 0);
}

TEST_F(ComPort, PurgeAndCancelPassTheirFlags) {
  Open();
  port.PurgeBuffers(true, false);
  port.PurgeBuffers(false, true);
  port.PurgeBuffers(false, false);
  port.CancelPendingIo();
  EXPECT_EQ(fake.calls, (Calls{"PurgeComm(8)", "PurgeComm(4)", "PurgeComm(0)", "PurgeComm(3)"}));
}

TEST_F(ComPort, LineErrorsAndModemSignalsMapFromThePlatformsFlags) {
  Open();
  fake.lineErrors = CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER | CE_TXFULL | CE_BREAK |
                    CE_IOE | CE_MODE | 0x40;
  const TComErrors all = port.TakeLineErrors();
  EXPECT_FALSE(all.Contains(ceRxParity));  // parity errors only count while checked
  EXPECT_EQ(all.ToBits(), 0xFF & ~(1 << ceRxParity));
  port.Parity().SetCheck(true);
  fake.lineErrors = CE_RXPARITY;
  EXPECT_EQ(port.TakeLineErrors(), TComErrors{ceRxParity});
  EXPECT_TRUE(port.TakeLineErrors().Empty());
  fake.modemStatus = MS_CTS_ON | MS_RLSD_ON;
  EXPECT_EQ(port.ModemSignals(), (TModemSignals{msCTS, msRLSD}));
  fake.modemStatus = MS_DSR_ON | MS_RING_ON;
  EXPECT_EQ(port.ModemSignals(), (TModemSignals{msDSR, msRing}));
}

TEST_F(ComPort, OperationsOnAClosedPortFailWithTheirOwnCode) {
  char buffer[4];
  const struct {
    int code;
    std::function<void()> operation;
  } cases[] = {{2, [&] { port.WriteText("L"); }},
               {3, [&] { port.ReadBytes(buffer, 4); }},
               {5, [&] { port.PurgeBuffers(true, false); }},
               {5, [&] { port.CancelPendingIo(); }},
               {10, [&] { port.BytesWaiting(); }},
               {10, [&] { port.TakeLineErrors(); }},
               {11, [&] { port.ModemSignals(); }}};
  for (const auto& c : cases) {
    const EComPort error = Raised(c.operation);
    EXPECT_EQ(error.PortErrorCode(), c.code);
    EXPECT_EQ(error.SystemCode(), EBADF);
  }
}

TEST_F(ComPort, AFailedCompletionRaisesByTheKindOfRequest) {
  Open();
  fake.Fail("AwaitCompletion", 5);
  EXPECT_EQ(Raised([&] { port.WriteText("P1234TT00Z"); }).PortErrorCode(), 2);
  char buffer[4];
  EXPECT_EQ(Raised([&] { port.ReadBytes(buffer, 4); }).PortErrorCode(), 3);
}

}  // namespace
