#pragma once
// The texts exchanged with the Vardelio: the programming frame, the read request and the replies.

#include <optional>
#include <string>
#include <string_view>

namespace vardelio {

enum class TTerminalBlock : unsigned char { tbAsalto, tbAccidente, tbIncendio };
enum class TTestReport : unsigned char { trDeshabilitado, tr24Hs, tr7Dias, tr30Dias };

struct TPanelProgramming {
  std::string Subscriber;
  std::string MainPhone;
  std::string BackupPhone;
  TTerminalBlock TerminalBlock = TTerminalBlock::tbAsalto;
  TTestReport TestReport = TTestReport::trDeshabilitado;
  bool operator==(const TPanelProgramming&) const = default;
};

// What a programming-data reply yields: either mode may be absent, and a missing
// separator sets Fault.
struct TProgrammingReply {
  std::string Subscriber;
  std::string MainPhone;
  std::string BackupPhone;
  std::optional<TTerminalBlock> TerminalBlock;
  std::optional<TTestReport> TestReport;
  bool Fault = false;
};

inline constexpr std::string_view kReadRequest = "L";
inline constexpr std::string_view kAcknowledgement = "OK";
inline constexpr std::string_view kTimeOver = "F";

// A phone of this many characters or more is sent without its "T" separator.
inline constexpr std::size_t kPhoneWithoutSeparator = 32;

char TerminalBlockDigit(TTerminalBlock value);
char TestReportDigit(TTestReport value);
std::optional<TTerminalBlock> TerminalBlockFromDigit(char digit);
std::optional<TTestReport> TestReportFromDigit(char digit);

// Checks nothing: the caller has already refused a subscriber that is not 4 characters.
std::string BuildProgrammingFrame(const TPanelProgramming& values);

// The payload up to its first carriage return or line feed.
std::string_view FirstLine(std::string_view payload);

// Receives each field as the parse reaches it, so a window can fill in as it goes.
class TReplyParseSink {
 public:
  virtual ~TReplyParseSink() = default;
  virtual void SubscriberChar(char) {}
  virtual void SubscriberDone() {}
  virtual void MainPhoneChar(char) {}
  virtual void FirstSeparatorDone() {}
  virtual void BackupPhoneChar(char) {}
  virtual void SecondSeparatorDone() {}
  virtual void TerminalBlockRead(std::optional<TTerminalBlock>) {}
  virtual void TestReportRead(std::optional<TTestReport>) {}
};

// Parses the first line of a programming-data payload; never reads past its end.
TProgrammingReply ParseProgrammingReply(std::string_view line);
TProgrammingReply ParseProgrammingReply(std::string_view line, TReplyParseSink& sink);

}  // namespace vardelio
