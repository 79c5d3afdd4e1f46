#include <gtest/gtest.h>

#include <linux/serial.h>
#include <termios.h>

#include "serial/platform/InputDecoder.h"
#include "serial/platform/LineCounters.h"
#include "serial/platform/LinuxTermios.h"
#include "serial/platform/PortName.h"
#include "serial/platform/Timeouts.h"

using namespace vardelio;

namespace {

TEST(PortName, ResolvesToADevicePath) {
  const struct {
    const char* name;
    const char* path;
  } cases[] = {{"COM1", "/dev/ttyS0"},       {"com3", "/dev/ttyS2"},  {"COM10", "/dev/ttyS9"},
               {"COM0", "/dev/COM0"},        {"COM01", "/dev/COM01"}, {"ttyUSB0", "/dev/ttyUSB0"},
               {"/dev/pts/3", "/dev/pts/3"}, {"../etc/passwd", ""},   {"", ""},
               {"COMX", "/dev/COMX"}};
  for (const auto& c : cases)
    EXPECT_EQ(DevicePathForPort(c.name), c.path) << c.name;
}

struct DecodeCase {
  const char* name;
  TInputRules rules;
  std::vector<std::string> reads;
  std::string bytes;
  std::uint32_t errors;
  bool breakSeen, eventCharSeen;
};

class Decoder : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decoder, UnmarksTheTerminalsInput) {
  const DecodeCase& c = GetParam();
  TInputDecoder decoder;
  decoder.SetRules(c.rules);
  TDecoded all;
  for (const std::string& read : c.reads) {
    const TDecoded part = decoder.Decode(read);
    all.bytes += part.bytes;
    all.errors |= part.errors;
    all.breakSeen |= part.breakSeen;
    all.eventCharSeen |= part.eventCharSeen;
  }
  EXPECT_EQ(all.bytes, c.bytes);
  EXPECT_EQ(all.errors, c.errors);
  EXPECT_EQ(all.breakSeen, c.breakSeen);
  EXPECT_EQ(all.eventCharSeen, c.eventCharSeen);
}

const std::string kFF = "\xff";
const std::string kNul(1, '\0');

INSTANTIATE_TEST_SUITE_P(
    Linux, Decoder,
    ::testing::Values(
        DecodeCase{"Plain", {}, {"SOKZ"}, "SOKZ", 0, false, false},
        DecodeCase{"EscapedFF", {}, {"a" + kFF + kFF + "b"}, "a" + kFF + "b", 0, false, false},
        DecodeCase{
            "EscapeSplitAcrossReads", {}, {"a" + kFF, kFF + "b"}, "a" + kFF + "b", 0, false, false},
        DecodeCase{"Break", {}, {"a" + kFF + kNul + kNul + "b"}, "ab", CE_BREAK, true, false},
        DecodeCase{"FramingErrorKept", {}, {kFF + kNul + "x"}, "x", CE_FRAME, false, false},
        DecodeCase{"ParityErrorReplaced",
                   {.replaceErrors = true, .errorChar = '?', .parityChecked = true},
                   {kFF, kNul, "x"},
                   "?",
                   CE_RXPARITY,
                   false,
                   false},
        DecodeCase{"NullsDiscarded",
                   {.discardNull = true},
                   {"a" + kNul + "b" + kNul},
                   "ab",
                   0,
                   false,
                   false},
        DecodeCase{"NullsDroppedAroundTheEventCharacter",
                   {.discardNull = true, .eventChar = 'Z'},
                   {kNul + "S" + kNul + kNul + "OK" + kFF + kFF + "Z" + kNul},
                   "SOK" + kFF + "Z",
                   0,
                   false,
                   true},
        // The default event character is 0, so a received NUL is the event character.
        DecodeCase{"NullsKept", {}, {"a" + kNul}, "a" + kNul, 0, false, true},
        DecodeCase{"EventCharacter", {.eventChar = 'Z'}, {"SOKZ"}, "SOKZ", 0, false, true},
        // A pseudo-terminal's input: nothing is marked, so a lone 0xFF is data.
        DecodeCase{"UnmarkedInputIsAllData",
                   {.marked = false, .discardNull = true, .eventChar = 'Z'},
                   {"S" + kFF, kNul + kNul + "x" + kFF + kFF + "Z"},
                   "S" + kFF + "x" + kFF + kFF + "Z",
                   0,
                   false,
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

// What a read of the terminal raises, from its raw marked bytes: a break is a break event
// and no line error; the 80 % mark raises its event once, on the way up.
TEST(EventsOfRead, EachReadRaisesWhatItsBytesSay) {
  const struct {
    const char* name;
    std::string raw;
    std::size_t before, capacity;
    std::uint32_t events;
  } cases[] = {
      {"data", "ab", 0, 100, EV_RXCHAR},
      {"break alone", kFF + kNul + kNul, 0, 100, EV_BREAK},
      {"break amid data", "a" + kFF + kNul + kNul + "b", 0, 100, EV_RXCHAR | EV_BREAK},
      {"framing error", kFF + kNul + "x", 0, 100, EV_RXCHAR | EV_ERR},
      {"break and framing error", kFF + kNul + kNul + kFF + kNul + "x", 0, 100,
       EV_RXCHAR | EV_BREAK | EV_ERR},
      {"up to 80 %", "ab", 6, 10, EV_RXCHAR | EV_RX80FULL},
      {"short of 80 %", "a", 6, 10, EV_RXCHAR},
      {"already past 80 %", "a", 8, 10, EV_RXCHAR},
      {"event character", "aZ", 0, 100, EV_RXCHAR | EV_RXFLAG},
  };
  for (const auto& c : cases) {
    TInputDecoder decoder;
    decoder.SetRules({.eventChar = 'Z'});
    const TDecoded decoded = decoder.Decode(c.raw);
    EXPECT_EQ(EventsOfRead(decoded, c.before, c.before + decoded.bytes.size(), c.capacity),
              c.events)
        << c.name;
  }
}

TEST(LineCounters, TellWhatWentWrongWithTheBytesJustRead) {
  const TLineCounts atOpen{.overrun = 7, .bufferOverrun = 2, .frame = 3, .parity = 5};
  const auto grown = [&](TLineCounts c) {
    c.overrun += atOpen.overrun;
    c.bufferOverrun += atOpen.bufferOverrun;
    c.frame += atOpen.frame;
    c.parity += atOpen.parity;
    return c;
  };
  const struct {
    const char* name;
    std::uint32_t marked;
    TLineCounts now;
    bool parityChecked;
    std::uint32_t errors;
  } cases[] = {
      {"errors from before the open", 0, atOpen, true, 0},
      {"a mark without counters", CE_RXPARITY, atOpen, true, CE_RXPARITY},
      {"a mark the framing count explains", CE_RXPARITY, grown({.frame = 1}), true, CE_FRAME},
      {"a mark the parity count explains", CE_RXPARITY, grown({.parity = 1}), true, CE_RXPARITY},
      {"both kinds", CE_RXPARITY, grown({.frame = 1, .parity = 1}), true, CE_FRAME | CE_RXPARITY},
      {"an overrun", 0, grown({.overrun = 1}), false, CE_OVERRUN},
      {"a full buffer", 0, grown({.bufferOverrun = 1}), false, CE_RXOVER},
      {"framing while parity is off", 0, grown({.frame = 1}), false, CE_FRAME},
      {"a break stays a break", CE_BREAK, atOpen, false, CE_BREAK},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ClassifyLineErrors(c.marked, atOpen, c.now, c.parityChecked), c.errors) << c.name;
}

TEST(TxRecheck, FollowsTheLineSpeedAndBacksOffWhileOutputIsHeld) {
  const struct {
    std::uint32_t queued, baud, lastQueued;
    std::uint64_t lastMs, expected;
  } cases[] = {
      {960, 9600, 0, 0, 1001},     // first look: the time the bytes need, plus one
      {1, 115200, 0, 0, 1},        // a byte at 115200
      {1, 115200, 1, 1, 2},        // held: doubles
      {1, 115200, 1, 512, 1000},   // up to a second
      {1, 115200, 1, 1000, 1000},  // and stays there
      {1, 115200, 2, 512, 1},      // shrinking again: back to the line's pace
      {960, 9600, 960, 4, 1001},   // never sooner than the bytes can leave
      {9600, 300, 9600, 1000, 320001},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TxRecheckMs(c.queued, c.baud, c.lastQueued, c.lastMs), c.expected)
        << c.queued << "@" << c.baud << " after " << c.lastQueued << "/" << c.lastMs;
  // Output held for a second at 115200 baud wakes the line a handful of times, not a thousand.
  int wakeUps = 0;
  std::uint64_t waited = 0, ms = 0;
  for (std::uint32_t last = 0; waited < 1000; last = 1, ++wakeUps)
    waited += ms = TxRecheckMs(1, 115200, last, ms);
  EXPECT_LE(wakeUps, 12);
}

TEST(ReadPlan, FollowsThePlatformsTimeoutRules) {
  const TReadPlan atOnce = PlanRead({kMaxDword, 0, 0, 0, 0}, 10);
  EXPECT_TRUE(atOnce.returnAtOnce);
  const TReadPlan firstByte = PlanRead({kMaxDword, kMaxDword, 500, 0, 0}, 10);
  EXPECT_TRUE(firstByte.returnOnFirstByte);
  EXPECT_EQ(firstByte.totalMs, 500u);
  const TReadPlan total = PlanRead({20, 10, 100, 0, 0}, 5);
  EXPECT_FALSE(total.returnAtOnce || total.returnOnFirstByte);
  EXPECT_EQ(total.totalMs, 150u);
  EXPECT_EQ(total.intervalMs, 20u);
  const TReadPlan forever = PlanRead({0, 0, 0, 0, 0}, 5);
  EXPECT_FALSE(forever.totalMs || forever.intervalMs || forever.returnAtOnce);
  EXPECT_EQ(WriteLimitMs({0, 0, 0, 100, 1000}, 10), 2000u);
  EXPECT_EQ(WriteLimitMs({0, 0, 0, kMaxDword, kMaxDword}, kMaxDword),
            std::uint64_t(kMaxDword) * kMaxDword + kMaxDword);
  EXPECT_FALSE(WriteLimitMs({0, 0, 0, 0, 0}, 10));
}

TDcb Dcb(std::uint8_t size, std::uint8_t parity, std::uint8_t stop, std::uint32_t flags = 0) {
  TDcb dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = size;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  dcb.Flags = dcb::fBinary | flags;
  return dcb;
}

TEST(TermAttrs, SizeParityAndStopBitsMapOntoTheControlFlags) {
  const struct {
    TDcb dcb;
    std::uint32_t cflag;  // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
  } cases[] = {
      {Dcb(8, 0, 0), CS8},
      {Dcb(7, 2, 0), CS7 | PARENB},
      {Dcb(7, 1, 2), CS7 | PARENB | PARODD | CSTOPB},
      {Dcb(6, 3, 0), CS6 | PARENB | PARODD | CMSPAR},
      {Dcb(8, 4, 0), CS8 | PARENB | CMSPAR},
      {Dcb(5, 0, 1), CS5 | CSTOPB},  // one and a half stop bits
  };
  for (const auto& c : cases) {
    TTermAttrs attrs;
    ASSERT_TRUE(TermAttrsFromDcb(c.dcb, attrs));
    EXPECT_EQ(attrs.cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.cflag);
    EXPECT_EQ(attrs.cflag & (CLOCAL | CREAD), unsigned(CLOCAL | CREAD));
    EXPECT_EQ(attrs.cc[VMIN], 1);
    EXPECT_EQ(attrs.cc[VTIME], 0);
    EXPECT_EQ(attrs.lflag, 0u);
  }
}

TEST(TermAttrs, RecordsTheLineCannotCarryAreRefused) {
  TDcb zeroSpeed = Dcb(8, 0, 0);
  zeroSpeed.BaudRate = 0;  // would hang the line up
  const TDcb refused[] = {zeroSpeed,    Dcb(4, 0, 0), Dcb(9, 0, 0), Dcb(8, 5, 0),
                          Dcb(8, 0, 3), Dcb(8, 0, 1), Dcb(5, 0, 2)};
  for (const TDcb& dcb : refused) {
    TTermAttrs attrs;
    EXPECT_FALSE(TermAttrsFromDcb(dcb, attrs)) << int(dcb.ByteSize) << "/" << int(dcb.StopBits);
  }
}

TEST(TermAttrs, FlowControlCheckingAndSpeed) {
  TDcb dcb = Dcb(8, 0, 0, dcb::fOutX | dcb::fInX | dcb::fParity);
  dcb.BaudRate = 12345;
  dcb.XonChar = 'q';
  dcb.XoffChar = 's';
  TTermAttrs attrs;
  ASSERT_TRUE(TermAttrsFromDcb(dcb, attrs));
  EXPECT_EQ(attrs.iflag & (IXON | IXOFF | INPCK | PARMRK), unsigned(IXON | IXOFF | INPCK | PARMRK));
  EXPECT_EQ(attrs.cflag & CRTSCTS, 0u);
  EXPECT_EQ(attrs.ospeed, 12345u);
  EXPECT_EQ(attrs.ispeed, 12345u);
  EXPECT_EQ(attrs.cc[VSTART], 'q');
  EXPECT_EQ(attrs.cc[VSTOP], 's');
  ASSERT_TRUE(TermAttrsFromDcb(Dcb(8, 0, 0, 2u << dcb::kRtsControlShift), attrs));
  EXPECT_NE(attrs.cflag & CRTSCTS, 0u);
  ASSERT_TRUE(TermAttrsFromDcb(Dcb(8, 0, 0, dcb::fOutxCtsFlow), attrs));
  EXPECT_NE(attrs.cflag & CRTSCTS, 0u);
}

TEST(TermAttrs, RtsToggleUsesTheDriversRs485Mode) {
  const struct {
    std::uint32_t current;
    bool toggle;
    std::uint32_t flags;
  } cases[] = {
      {0, true, SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND},
      {SER_RS485_RTS_AFTER_SEND, true, SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND},
      {SER_RS485_RX_DURING_TX, true,
       SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RX_DURING_TX},
      {SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND, false, SER_RS485_RTS_ON_SEND},
      {0, false, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Rs485Flags(c.current, c.toggle), c.flags) << c.current << " " << c.toggle;
}

TEST(TermAttrs, APseudoTerminalMayForceItsFraming) {
  TTermAttrs wanted, forced;
  ASSERT_TRUE(TermAttrsFromDcb(Dcb(7, 2, 0), wanted));
  ASSERT_TRUE(TermAttrsFromDcb(Dcb(8, 0, 0), forced));
  EXPECT_TRUE(LineTookAttrs(wanted, forced, true));
  EXPECT_FALSE(LineTookAttrs(wanted, forced, false));
  TTermAttrs rounded = wanted;
  rounded.ospeed = 9615;  // a UART clock's nearest
  EXPECT_TRUE(LineTookAttrs(wanted, rounded, false));
  rounded.ospeed = 19200;
  EXPECT_FALSE(LineTookAttrs(wanted, rounded, false));
}

}  // namespace
