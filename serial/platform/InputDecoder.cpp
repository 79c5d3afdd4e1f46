#include "InputDecoder.h"

#include <utility>

#include "ComPlatform.h"

namespace vardelio {
namespace {

constexpr char kMark = '\xff';

}  // namespace

void TInputDecoder::Emit(TDecoded& out, char byte) const {
  if (byte == '\0' && rules_.discardNull) return;
  if (byte == rules_.eventChar) out.eventCharSeen = true;
  out.bytes.push_back(byte);
}

TDecoded TInputDecoder::Decode(std::string_view raw) {
  TDecoded out;
  std::string input = std::exchange(pending_, {});
  input.append(raw);
  std::size_t i = 0;
  while (i < input.size()) {
    if (input[i] != kMark) {
      Emit(out, input[i++]);
      continue;
    }
    if (i + 1 >= input.size()) break;  // mark cut off: finish it next time
    if (input[i + 1] == kMark) {       // an escaped data byte 0xFF
      Emit(out, kMark);
      i += 2;
      continue;
    }
    if (input[i + 1] != '\0') {  // not a mark after all
      Emit(out, input[i++]);
      continue;
    }
    if (i + 2 >= input.size()) break;
    const char marked = input[i + 2];
    i += 3;
    if (marked == '\0') {
      out.breakSeen = true;
      out.errors |= CE_BREAK;
      continue;
    }
    out.errors |= rules_.parityChecked ? CE_RXPARITY : CE_FRAME;
    Emit(out, rules_.replaceErrors ? rules_.errorChar : marked);
  }
  pending_.assign(input, i, std::string::npos);
  return out;
}

}  // namespace vardelio
