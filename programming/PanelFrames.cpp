#include "PanelFrames.h"

namespace vardelio {
namespace {

constexpr std::size_t kMainPhoneScanEnd = 38;  // positions from 1; stops before 38
constexpr std::size_t kBackupPhoneMax = 32;

// The character at a 1-based position; 0 where the line has none.
class TCursor {
 public:
  explicit TCursor(std::string_view line) : line_(line) {}
  char At() const { return position_ <= line_.size() ? line_[position_ - 1] : '\0'; }
  bool AtEnd() const { return position_ > line_.size(); }
  std::size_t Position() const { return position_; }
  void Advance() { ++position_; }

 private:
  std::string_view line_;
  std::size_t position_ = 1;
};

void AppendPhone(std::string& frame, const std::string& phone) {
  frame += phone;
  if (phone.size() < kPhoneWithoutSeparator) frame += 'T';
}

// A position past the end holds no character and appends nothing.
void Take(TCursor& cursor, std::string& field, void (TReplyParseSink::*report)(char),
          TReplyParseSink& sink) {
  if (!cursor.AtEnd()) {
    field += cursor.At();
    (sink.*report)(cursor.At());
  }
  cursor.Advance();
}

bool TakeSeparator(TCursor& cursor) {
  if (!cursor.AtEnd() && cursor.At() == 'T') {
    cursor.Advance();
    return true;
  }
  return false;
}

}  // namespace

char TerminalBlockDigit(TTerminalBlock value) {
  return static_cast<char>('0' + int(value));
}

char TestReportDigit(TTestReport value) {
  return static_cast<char>('0' + int(value));
}

std::optional<TTerminalBlock> TerminalBlockFromDigit(char digit) {
  if (digit < '0' || digit > '2') return std::nullopt;
  return static_cast<TTerminalBlock>(digit - '0');
}

std::optional<TTestReport> TestReportFromDigit(char digit) {
  if (digit < '0' || digit > '3') return std::nullopt;
  return static_cast<TTestReport>(digit - '0');
}

std::string BuildProgrammingFrame(const TPanelProgramming& values) {
  std::string frame = "P" + values.Subscriber;
  AppendPhone(frame, values.MainPhone);
  AppendPhone(frame, values.BackupPhone);
  frame += TerminalBlockDigit(values.TerminalBlock);
  frame += TestReportDigit(values.TestReport);
  frame += 'Z';
  return frame;
}

std::string_view FirstLine(std::string_view payload) {
  return payload.substr(0, payload.find_first_of("\r\n"));
}

TProgrammingReply ParseProgrammingReply(std::string_view line) {
  TReplyParseSink ignore;
  return ParseProgrammingReply(line, ignore);
}

TProgrammingReply ParseProgrammingReply(std::string_view line, TReplyParseSink& sink) {
  TProgrammingReply reply;
  TCursor cursor(line);
  for (int i = 0; i < 4; ++i)
    Take(cursor, reply.Subscriber, &TReplyParseSink::SubscriberChar, sink);
  sink.SubscriberDone();

  while (!cursor.AtEnd() && cursor.At() != 'T' && cursor.Position() < kMainPhoneScanEnd) {
    Take(cursor, reply.MainPhone, &TReplyParseSink::MainPhoneChar, sink);
  }
  if (!TakeSeparator(cursor)) reply.Fault = true;
  sink.FirstSeparatorDone();

  for (std::size_t count = 0; !cursor.AtEnd() && cursor.At() != 'T' && count < kBackupPhoneMax;
       ++count) {
    Take(cursor, reply.BackupPhone, &TReplyParseSink::BackupPhoneChar, sink);
  }
  if (!TakeSeparator(cursor)) reply.Fault = true;
  sink.SecondSeparatorDone();

  reply.TerminalBlock = TerminalBlockFromDigit(cursor.At());
  sink.TerminalBlockRead(reply.TerminalBlock);
  cursor.Advance();
  reply.TestReport = TestReportFromDigit(cursor.At());
  sink.TestReportRead(reply.TestReport);
  return reply;
}

}  // namespace vardelio
