#pragma once
// The serial component's error: a port error code, the system's code, and the composed message.

#include <QString>
#include <exception>
#include <functional>
#include <string>

namespace vardelio {

inline constexpr int kPortErrorCount = 23;
inline constexpr int kNoSystemCode = -1;

class EComPort : public std::exception {
 public:
  // "<table text> (win error code: <systemCode>)"
  EComPort(int portErrorCode, int systemCode);
  // The bare table text; SystemCode() is -1.
  explicit EComPort(int portErrorCode);

  int PortErrorCode() const { return portErrorCode_; }
  int SystemCode() const { return systemCode_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  int systemCode_;
  int portErrorCode_;
};

// Runs each message through the program's translation on its way in.
using TMessageTranslator = std::function<QString(const QString&)>;

// Fills the message table once at start-up; later language changes do not refresh it.
// The translator also serves the system-code suffix each time an error is raised.
void InitPortErrorMessages(TMessageTranslator translator);
// The table text for a code from 1; empty for any other code.
QString PortErrorMessage(int portErrorCode);
// Any other text of the serial component, through the same translator.
QString TranslatePortText(const QString& english);

// Puts `value` where the text has "%d"; "%%" stands for "%"; anything else stays as it is.
// Never hands the text to a printf-style formatter.
std::string SubstituteNumber(const std::string& format, int value);

}  // namespace vardelio
