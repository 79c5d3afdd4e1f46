#include "SettingsText.h"

#include <array>
#include <cstdint>

namespace vardelio {
namespace {

template <std::size_t N>
using TTexts = std::array<const char*, N>;

constexpr TTexts<16> kBaudRates = {"Custom", "110",    "300",    "600",   "1200",  "2400",
                                   "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                   "57600",  "115200", "128000", "256000"};
constexpr TTexts<3> kStopBits = {"1", "1.5", "2"};
constexpr TTexts<4> kDataBits = {"5", "6", "7", "8"};
constexpr TTexts<5> kParities = {"None", "Odd", "Even", "Mark", "Space"};
constexpr TTexts<4> kFlowControls = {"Hardware", "Software", "None", "Custom"};
constexpr TTexts<3> kDtrControls = {"Disable", "Enable", "Handshake"};
constexpr TTexts<4> kRtsControls = {"Disable", "Enable", "Handshake", "Toggle"};

template <std::size_t N>
std::string TextOf(const TTexts<N>& texts, unsigned value) {
  return value < N ? texts[value] : "";
}

// The first entry equal to the text, whole and case-insensitively; the fallback otherwise.
template <typename E, std::size_t N>
E Parse(const TTexts<N>& texts, const std::string& text, E fallback) {
  const std::string wanted = AsciiUpper(text);
  for (std::size_t i = 0; i < N; ++i) {
    if (AsciiUpper(texts[i]) == wanted) return E(i);
  }
  return fallback;
}

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

}  // namespace

std::string AsciiUpper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return upper;
}

std::string BaudRateText(TBaudRate v) {
  return TextOf(kBaudRates, v);
}
std::string StopBitsText(TStopBits v) {
  return TextOf(kStopBits, v);
}
std::string DataBitsText(TDataBits v) {
  return TextOf(kDataBits, v);
}
std::string ParityText(TParityBits v) {
  return TextOf(kParities, v);
}
std::string FlowControlText(TFlowControl v) {
  return TextOf(kFlowControls, v);
}
std::string DTRControlText(TDTRFlowControl v) {
  return TextOf(kDtrControls, v);
}
std::string RTSControlText(TRTSFlowControl v) {
  return TextOf(kRtsControls, v);
}

TBaudRate ParseBaudRate(const std::string& t) {
  return Parse(kBaudRates, t, br9600);
}
TStopBits ParseStopBits(const std::string& t) {
  return Parse(kStopBits, t, sbOneStopBit);
}
TDataBits ParseDataBits(const std::string& t) {
  return Parse(kDataBits, t, dbEight);
}
TParityBits ParseParity(const std::string& t) {
  return Parse(kParities, t, prNone);
}
TFlowControl ParseFlowControl(const std::string& t) {
  return Parse(kFlowControls, t, fcCustom);
}
TDTRFlowControl ParseDTRControl(const std::string& t) {
  return Parse(kDtrControls, t, dtrDisable);
}
TRTSFlowControl ParseRTSControl(const std::string& t) {
  return Parse(kRtsControls, t, rtsDisable);
}

std::string YesNoText(bool value) {
  return value ? "Yes" : "No";
}
bool ParseYesNo(const std::string& text) {
  return AsciiUpper(text) == "YES";
}

std::optional<std::int32_t> ParseIntegerText(const std::string& text) {
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return std::nullopt;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) return std::nullopt;
    value = value * base + digit;
    // Hexadecimal may fill all 32 bits; decimal must fit the signed range.
    if (value > (base == 16 ? 0xFFFFFFFFll : 0x80000000ll)) return std::nullopt;
  }
  if (base == 16) value = std::int32_t(std::uint32_t(value));
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return std::int32_t(value);
}

std::string CharText(char value) {
  const unsigned code = static_cast<unsigned char>(value);
  if (code >= 33 && code <= 127) return std::string(1, value);
  std::string text = "#";
  text += std::to_string(code);
  return text;
}

char ParseChar(const std::string& text) {
  if (text.empty()) return 0;
  if (text[0] == '#' && text.size() > 1) {
    const auto code = ParseIntegerText(text.substr(1));
    return code ? char(std::uint32_t(*code) & 0xFF) : '\0';
  }
  return text[0];
}

}  // namespace vardelio
