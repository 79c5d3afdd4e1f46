#include "ComError.h"

#include <QStringList>
#include <array>

#include "framework/Ansi.h"

namespace vardelio {
namespace {

const std::array<const char*, kPortErrorCount> kEnglishMessages = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

const char* const kSystemCodeSuffix = " (win error code: %d)";

struct TMessageTable {
  std::array<QString, kPortErrorCount> texts;
  TMessageTranslator translator;
};

TMessageTable& Table() {
  static TMessageTable table = [] {
    TMessageTable t;
    for (int i = 0; i < kPortErrorCount; ++i)
      t.texts[i] = QString::fromLatin1(kEnglishMessages[i]);
    return t;
  }();
  return table;
}

QString Translated(const char* text) {
  const QString english = QString::fromLatin1(text);
  return Table().translator ? Table().translator(english) : english;
}

}  // namespace

void InitPortErrorMessages(TMessageTranslator translator) {
  TMessageTable& table = Table();
  table.translator = std::move(translator);
  for (int i = 0; i < kPortErrorCount; ++i)
    table.texts[i] = Translated(kEnglishMessages[i]);
}

QString PortErrorMessage(int portErrorCode) {
  if (portErrorCode < 1 || portErrorCode > kPortErrorCount) return {};
  return Table().texts[portErrorCode - 1];
}

QString TranslatePortText(const QString& english) {
  return Table().translator ? Table().translator(english) : english;
}

std::string SubstituteNumber(const std::string& format, int value) {
  std::string out;
  bool substituted = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (format[i + 1] == 'd' && !substituted) {
        out += std::to_string(value);
        substituted = true;
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

EComPort::EComPort(int portErrorCode, int systemCode)
    : message_(SubstituteNumber(
          ToAnsi(PortErrorMessage(portErrorCode) + Translated(kSystemCodeSuffix)), systemCode)),
      systemCode_(systemCode),
      portErrorCode_(portErrorCode) {}

EComPort::EComPort(int portErrorCode)
    : message_(ToAnsi(PortErrorMessage(portErrorCode))),
      systemCode_(kNoSystemCode),
      portErrorCode_(portErrorCode) {}

}  // namespace vardelio
