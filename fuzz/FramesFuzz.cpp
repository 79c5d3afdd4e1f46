// The reply parser reads nothing past its line, and a frame built from values parses back to
// them.

#include <cstdlib>
#include <memory>

#include "FuzzInput.h"
#include "programming/PanelFrames.h"

using namespace vardelio;

namespace {

std::string Digits(fuzz::TFuzzInput& in, std::size_t most) {
  static constexpr char kAllowed[] = "0123456789BCDEF,*#";
  std::string text = in.Text(most);
  for (char& c : text)
    c = kAllowed[static_cast<unsigned char>(c) % (sizeof kAllowed - 1)];
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Any bytes, in a buffer exactly their size, so a read past the end is caught.
  const auto exact = std::make_unique<char[]>(size);
  std::copy(data, data + size, exact.get());
  ParseProgrammingReply(FirstLine(std::string_view(exact.get(), size)));

  fuzz::TFuzzInput in(data, size);
  TPanelProgramming values;
  values.Subscriber = Digits(in, 4);
  while (values.Subscriber.size() < 4)
    values.Subscriber += '0';
  values.MainPhone = Digits(in, kPhoneWithoutSeparator - 1);
  values.BackupPhone = Digits(in, kPhoneWithoutSeparator - 1);
  values.TerminalBlock = TTerminalBlock(in.Byte() % 3);
  values.TestReport = TTestReport(in.Byte() % 4);
  const std::string frame = BuildProgrammingFrame(values);
  if (frame.front() != 'P' || frame.back() != 'Z') std::abort();
  const TProgrammingReply reply =
      ParseProgrammingReply(std::string_view(frame).substr(1, frame.size() - 2));
  if (reply.Fault || reply.Subscriber != values.Subscriber || reply.MainPhone != values.MainPhone ||
      reply.BackupPhone != values.BackupPhone || reply.TerminalBlock != values.TerminalBlock ||
      reply.TestReport != values.TestReport) {
    std::abort();
  }
  return 0;
}
