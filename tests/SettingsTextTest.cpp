#include <gtest/gtest.h>

#include "portconfig/SettingsText.h"

using namespace vardelio;

namespace {

TEST(SettingsText, TablesRoundTripAndUnknownTextsFallBack) {
  for (int i = 0; i <= br256000; ++i)
    EXPECT_EQ(ParseBaudRate(BaudRateText(TBaudRate(i))), i);
  for (int i = 0; i <= rtsToggle; ++i) {
    EXPECT_EQ(ParseRTSControl(RTSControlText(TRTSFlowControl(i))), i);
  }
  const struct {
    std::string text;
    int parsed, expected;
  } cases[] = {
      {"custom", ParseBaudRate("custom"), brCustom},
      {"12345", ParseBaudRate("12345"), br9600},
      {" 9600", ParseBaudRate(" 9600"), br9600},  // nothing trimmed: the fallback
      {"115200", ParseBaudRate("115200"), br115200},
      {"1.5", ParseStopBits("1.5"), sbOne5StopBits},
      {"3", ParseStopBits("3"), sbOneStopBit},
      {"7", ParseDataBits("7"), dbSeven},
      {"9", ParseDataBits("9"), dbEight},
      {"even", ParseParity("even"), prEven},
      {"E", ParseParity("E"), prNone},
      {"hardware", ParseFlowControl("hardware"), fcHardware},
      {"RTS/CTS", ParseFlowControl("RTS/CTS"), fcCustom},
      {"HANDSHAKE", ParseDTRControl("HANDSHAKE"), dtrHandshake},
      {"toggle", ParseRTSControl("toggle"), rtsToggle},
      {"on", ParseRTSControl("on"), rtsDisable},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.parsed, c.expected) << c.text;
  EXPECT_EQ(BaudRateText(brCustom), "Custom");
  EXPECT_EQ(FlowControlText(fcNone), "None");
}

TEST(SettingsText, OnlyYesIsTrue) {
  const struct {
    const char* text;
    bool value;
  } cases[] = {{"Yes", true}, {"yes", true}, {"YES", true},  {"True", false},
               {"1", false},  {"", false},   {"Yes ", false}};
  for (const auto& c : cases)
    EXPECT_EQ(ParseYesNo(c.text), c.value) << c.text;
  EXPECT_EQ(YesNoText(true), "Yes");
  EXPECT_EQ(YesNoText(false), "No");
}

TEST(SettingsText, IntegerText) {
  const struct {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {{"12", 12},
               {"  -1", -1},
               {"+7", 7},
               {"$11", 17},
               {"x11", 17},
               {"0x11", 17},
               {"0X1f", 31},
               {"$FFFFFFFF", -1},
               {"", std::nullopt},
               {"12 ", std::nullopt},
               {"1a", std::nullopt},
               {"$", std::nullopt},
               {"-", std::nullopt},
               {"2147483647", 2147483647},
               {"2147483648", std::nullopt},
               {"-2147483648", INT32_MIN}};
  for (const auto& c : cases)
    EXPECT_EQ(ParseIntegerText(c.text), c.value) << c.text;
}

TEST(SettingsText, Characters) {
  const struct {
    std::string text;
    char value;
  } cases[] = {{"#17", 17}, {"#0x11", 17}, {"#$11", 17},       {"#abc", 0}, {"#", '#'},
               {"", 0},     {"#300", 44},  {"#-1", char(255)}, {"AB", 'A'}, {"#32", ' '}};
  for (const auto& c : cases)
    EXPECT_EQ(ParseChar(c.text), c.value) << c.text;
  EXPECT_EQ(CharText(17), "#17");
  EXPECT_EQ(CharText(' '), "#32");
  EXPECT_EQ(CharText('A'), "A");
  EXPECT_EQ(CharText(127), "\x7f");
  EXPECT_EQ(CharText(char(200)), "#200");
  EXPECT_EQ(CharText(0), "#0");
}

}  // namespace
