#include "InputDecoder.h"

#include <utility>

#include "ComPlatform.h"

namespace vardelio {

std::uint32_t EventsOfRead(const TDecoded& decoded, std::size_t before, std::size_t after,
                           std::size_t capacity) {
  std::uint32_t events = 0;
  const std::size_t nearlyFull = capacity * 8 / 10;
  if (after > before) events |= EV_RXCHAR;
  if (before < nearlyFull && after >= nearlyFull) events |= EV_RX80FULL;
  if (decoded.eventCharSeen) events |= EV_RXFLAG;
  if (decoded.breakSeen) events |= EV_BREAK;
  if (decoded.errors & ~CE_BREAK) events |= EV_ERR;
  return events;
}
namespace {

constexpr char kMark = '\xff';

}  // namespace

void TInputDecoder::Emit(TDecoded& out, char byte) const {
  EmitRun(out, std::string_view(&byte, 1));
}

// A run of plain bytes goes over in one copy, less any NULs to drop.
void TInputDecoder::EmitRun(TDecoded& out, std::string_view run) const {
  if (run.empty()) return;
  // A dropped NUL is no event character.
  const bool dropped = rules_.discardNull && rules_.eventChar == '\0';
  if (!dropped && run.find(rules_.eventChar) != std::string_view::npos) out.eventCharSeen = true;
  if (!rules_.discardNull) {
    out.bytes.append(run);
    return;
  }
  for (std::size_t nul; (nul = run.find('\0')) != std::string_view::npos;) {
    out.bytes.append(run.substr(0, nul));
    run.remove_prefix(nul + 1);
  }
  out.bytes.append(run);
}

TDecoded TInputDecoder::Decode(std::string_view raw) {
  TDecoded out;
  if (!rules_.marked) {
    out.bytes.reserve(raw.size());
    EmitRun(out, raw);
    return out;
  }
  std::string joined;
  std::string_view input = raw;
  if (!pending_.empty()) {  // a mark cut off by the last read
    joined = std::exchange(pending_, {}) + std::string(raw);
    input = joined;
  }
  out.bytes.reserve(input.size());
  std::size_t i = 0;
  while (i < input.size()) {
    const std::size_t mark = input.find(kMark, i);
    EmitRun(out, input.substr(i, mark == std::string_view::npos ? input.npos : mark - i));
    if (mark == std::string_view::npos) {
      i = input.size();
      break;
    }
    i = mark;
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
  pending_.assign(input.substr(i));
  return out;
}

}  // namespace vardelio
