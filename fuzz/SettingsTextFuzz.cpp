// Every text form parses without harm, and what a value is written as reads back as it.

#include <cstdlib>

#include "FuzzInput.h"
#include "portconfig/SettingsText.h"

using namespace vardelio;

namespace {

// A parsed value, written and parsed again, is the same value.
template <typename E>
void Stable(const std::string& text, E (*parse)(const std::string&), std::string (*write)(E)) {
  const E value = parse(text);
  if (parse(write(value)) != value) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Stable(text, ParseBaudRate, BaudRateText);
  Stable(text, ParseStopBits, StopBitsText);
  Stable(text, ParseDataBits, DataBitsText);
  Stable(text, ParseParity, ParityText);
  Stable(text, ParseFlowControl, FlowControlText);
  Stable(text, ParseDTRControl, DTRControlText);
  Stable(text, ParseRTSControl, RTSControlText);
  if (ParseYesNo(YesNoText(ParseYesNo(text))) != ParseYesNo(text)) std::abort();
  if (const auto number = ParseIntegerText(text)) {
    if (ParseIntegerText(std::to_string(*number)) != number) std::abort();
  }
  for (const char c : text) {
    if (ParseChar(CharText(c)) != c) std::abort();
  }
  ParseChar(text);
  return 0;
}
