#pragma once
// The text forms of the port's settings, as the INI file and the setup dialog show them.

#include <optional>
#include <string>

#include "serial/ComTypes.h"

namespace vardelio {

std::string BaudRateText(TBaudRate value);
std::string StopBitsText(TStopBits value);
std::string DataBitsText(TDataBits value);
std::string ParityText(TParityBits value);
std::string FlowControlText(TFlowControl value);
std::string DTRControlText(TDTRFlowControl value);
std::string RTSControlText(TRTSFlowControl value);

// Case-insensitive (a to z), whole text, nothing trimmed; an unknown text gives the fallback:
// br9600, sbOneStopBit, dbEight, prNone, fcCustom, dtrDisable, rtsDisable.
TBaudRate ParseBaudRate(const std::string& text);
TStopBits ParseStopBits(const std::string& text);
TDataBits ParseDataBits(const std::string& text);
TParityBits ParseParity(const std::string& text);
TFlowControl ParseFlowControl(const std::string& text);
TDTRFlowControl ParseDTRControl(const std::string& text);
TRTSFlowControl ParseRTSControl(const std::string& text);

// Letters a to z in upper case, every other byte as it is.
std::string AsciiUpper(const std::string& text);

std::string YesNoText(bool value);
// True exactly for "Yes" in any letter case.
bool ParseYesNo(const std::string& text);

// Leading blanks, a sign, then decimal digits or hexadecimal after $, x or 0x; nothing after.
std::optional<std::int32_t> ParseIntegerText(const std::string& text);

// Codes 33 to 127 as the character itself, every other code as "#" and its decimal code.
std::string CharText(char value);
// Empty: 0; "#" and more: that integer's low 8 bits (0 when it is none); else the first byte.
char ParseChar(const std::string& text);

}  // namespace vardelio
