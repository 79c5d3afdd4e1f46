#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "programming/PanelFrames.h"

using namespace vardelio;

namespace {

using TB = TTerminalBlock;
using TR = TTestReport;

std::string Repeat(char c, std::size_t n) {
  return std::string(n, c);
}

struct BuildCase {
  const char* name;
  TPanelProgramming values;
  std::string expected;
};

class BuildFrame : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildFrame, AppendsFieldsAndSeparatorsInOrder) {
  const BuildCase& c = GetParam();
  EXPECT_EQ(BuildProgrammingFrame(c.values), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BuildFrame,
    ::testing::Values(
        BuildCase{"Example", {"1B2C", "12,34", "", TB::tbIncendio, TR::tr7Dias}, "P1B2C12,34TT22Z"},
        BuildCase{"EmptyPhones", {"1234", "", "", TB::tbAsalto, TR::trDeshabilitado}, "P1234TT00Z"},
        BuildCase{"BothPhones31",
                  {"FFFF", Repeat('1', 31), Repeat('2', 31), TB::tbAccidente, TR::tr24Hs},
                  "PFFFF" + Repeat('1', 31) + "T" + Repeat('2', 31) + "T11Z"},
        BuildCase{"MainPhone32HasNoSeparator",
                  {"1234", Repeat('1', 32), "5", TB::tbAsalto, TR::tr30Dias},
                  "P1234" + Repeat('1', 32) + "5T03Z"},
        BuildCase{"MainPhone33HasNoSeparator",
                  {"1234", Repeat('1', 33), "", TB::tbAsalto, TR::tr30Dias},
                  "P1234" + Repeat('1', 33) + "T03Z"},
        BuildCase{"BackupPhone32HasNoSeparator",
                  {"1234", "", Repeat('9', 32), TB::tbIncendio, TR::trDeshabilitado},
                  "P1234T" + Repeat('9', 32) + "20Z"},
        BuildCase{"PauseAndSymbolsPassUnchanged",
                  {"BCDE", ",*#", "#*,", TB::tbAccidente, TR::tr7Dias},
                  "PBCDE,*#T#*,T12Z"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuildFrame, TypedPhonesGiveTenPlusBothLengths) {
  for (std::size_t main = 0; main <= 31; main += 31) {
    for (std::size_t backup = 0; backup <= 31; backup += 31) {
      const TPanelProgramming v{"1234", Repeat('1', main), Repeat('2', backup)};
      EXPECT_EQ(BuildProgrammingFrame(v).size(), 10 + main + backup);
    }
  }
}

struct ParseCase {
  const char* name;
  std::string line;
  std::string subscriber, mainPhone, backupPhone;
  std::optional<TB> terminalBlock;
  std::optional<TR> testReport;
  bool fault;
};

class ParseReply : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseReply, ReadsFieldsByPosition) {
  const ParseCase& c = GetParam();
  // An exact-size heap copy, so that AddressSanitizer catches any read past the end.
  auto exact = std::make_unique<char[]>(c.line.size());
  std::copy(c.line.begin(), c.line.end(), exact.get());
  const TProgrammingReply r = ParseProgrammingReply(std::string_view(exact.get(), c.line.size()));
  EXPECT_EQ(r.Subscriber, c.subscriber);
  EXPECT_EQ(r.MainPhone, c.mainPhone);
  EXPECT_EQ(r.BackupPhone, c.backupPhone);
  EXPECT_EQ(r.TerminalBlock, c.terminalBlock);
  EXPECT_EQ(r.TestReport, c.testReport);
  EXPECT_EQ(r.Fault, c.fault);
}

const std::string k33 = Repeat('5', 33);
const std::string k32 = Repeat('7', 32);

INSTANTIATE_TEST_SUITE_P(
    Frames, ParseReply,
    ::testing::Values(
        ParseCase{"Example", "1B2C12,34TT22", "1B2C", "12,34", "", TB::tbIncendio, TR::tr7Dias,
                  false},
        ParseCase{"MainPhone33", "1234" + k33 + "T9T13", "1234", k33, "9", TB::tbAccidente,
                  TR::tr30Dias, false},
        // The scan stops at position 38: the 34th character becomes the whole backup phone
        // and the terminal block comes from the first character of the real backup phone.
        ParseCase{"MainPhone34", "1234" + k33 + "6T12T00", "1234", k33, "6", TB::tbAccidente,
                  TR::tr7Dias, true},
        ParseCase{"BackupPhone32", "1234T" + k32 + "T21", "1234", "", k32, TB::tbIncendio,
                  TR::tr24Hs, false},
        ParseCase{"BackupPhone33", "1234T" + k32 + "2T10", "1234", "", k32, TB::tbIncendio,
                  std::nullopt, true},
        ParseCase{"TerminalDigit3", "1234TT33", "1234", "", "", std::nullopt, TR::tr30Dias, false},
        ParseCase{"TestDigit4", "1234TT14", "1234", "", "", TB::tbAccidente, std::nullopt, false},
        ParseCase{"TrailingIgnored", "1234TT01XYZT", "1234", "", "", TB::tbAsalto, TR::tr24Hs,
                  false},
        ParseCase{"OkAsData", "OK", "OK", "", "", std::nullopt, std::nullopt, true},
        ParseCase{"Empty", "", "", "", "", std::nullopt, std::nullopt, true},
        ParseCase{"StopsBeforeTestDigit", "1234TT1", "1234", "", "", TB::tbAccidente, std::nullopt,
                  false},
        ParseCase{"MissingSecondSeparator", "1234T555", "1234", "", "555", std::nullopt,
                  std::nullopt, true},
        ParseCase{"TInSubscriberIsData", "T2T4TT00", "T2T4", "", "", TB::tbAsalto,
                  TR::trDeshabilitado, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FirstLine, EndsAtTheFirstLineBreak) {
  EXPECT_EQ(FirstLine("1234TT01\r\n5678TT22"), "1234TT01");
  EXPECT_EQ(FirstLine("1234TT01\n5678"), "1234TT01");
  EXPECT_EQ(FirstLine("1234\rTT01"), "1234");
  EXPECT_EQ(FirstLine("\r\nabc"), "");
  EXPECT_EQ(FirstLine("no break"), "no break");
}

TEST(FrameConstants, AreTheProtocolTexts) {
  EXPECT_EQ(kReadRequest, "L");
  EXPECT_EQ(kAcknowledgement, "OK");
  EXPECT_EQ(kTimeOver, "F");
}

// A programming frame without its "P" and "Z" is exactly the data reply the unit sends back.
TEST(RoundTrip, TypedValuesSurviveBuildAndParse) {
  std::mt19937 random(20261207);
  const std::string phoneChars = "0123456789,*#";
  const std::string subscriberChars = "0123456789BCDEF";
  auto pick = [&](const std::string& from, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
      s += from[random() % from.size()];
    return s;
  };
  for (int i = 0; i < 500; ++i) {
    const TPanelProgramming v{pick(subscriberChars, 4), pick(phoneChars, random() % 32),
                              pick(phoneChars, random() % 32), TB(random() % 3), TR(random() % 4)};
    const std::string frame = BuildProgrammingFrame(v);
    const TProgrammingReply r = ParseProgrammingReply(frame.substr(1, frame.size() - 2));
    ASSERT_FALSE(r.Fault) << frame;
    EXPECT_EQ(r.Subscriber, v.Subscriber);
    EXPECT_EQ(r.MainPhone, v.MainPhone);
    EXPECT_EQ(r.BackupPhone, v.BackupPhone);
    EXPECT_EQ(r.TerminalBlock, v.TerminalBlock);
    EXPECT_EQ(r.TestReport, v.TestReport);
  }
}

// Any bytes at all, of any length: bounded fields and no read past the end.
TEST(RobustParse, ArbitraryRepliesStayInBounds) {
  std::mt19937 random(7);
  const std::string alphabet = std::string("T0123Z,\r\n\0\xff", 12);
  for (int i = 0; i < 3000; ++i) {
    const std::size_t size = random() % 90;
    auto exact = std::make_unique<char[]>(size);
    for (std::size_t k = 0; k < size; ++k)
      exact[k] = alphabet[random() % alphabet.size()];
    const TProgrammingReply r = ParseProgrammingReply(std::string_view(exact.get(), size));
    EXPECT_LE(r.Subscriber.size(), 4u);
    EXPECT_LE(r.MainPhone.size(), 33u);
    EXPECT_LE(r.BackupPhone.size(), 32u);
  }
}

class OrderSink : public TReplyParseSink {
 public:
  std::string log;
  void SubscriberChar(char c) override { log += c; }
  void SubscriberDone() override { log += "|s"; }
  void MainPhoneChar(char c) override { log += c; }
  void FirstSeparatorDone() override { log += "|1"; }
  void BackupPhoneChar(char c) override { log += c; }
  void SecondSeparatorDone() override { log += "|2"; }
  void TerminalBlockRead(std::optional<TB> v) override { log += v ? "|b" : "|-"; }
  void TestReportRead(std::optional<TR> v) override { log += v ? "|r" : "|-"; }
};

TEST(ParseSink, SeesEachFieldAsTheParseReachesIt) {
  OrderSink sink;
  ParseProgrammingReply("1B2C12T3T29", sink);
  EXPECT_EQ(sink.log, "1B2C|s12|13|2|b|-");
}

}  // namespace
