// Decoding the terminal's input gives the same result however the reads split it; input that is
// not marked passes unchanged unless NULs are dropped.

#include <cstdlib>

#include "FuzzInput.h"
#include "serial/platform/InputDecoder.h"

using namespace vardelio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::TFuzzInput in(data, size);
  TInputRules rules;
  rules.discardNull = in.Flag();
  rules.replaceErrors = in.Flag();
  rules.errorChar = char(in.Byte());
  rules.parityChecked = in.Flag();
  rules.eventChar = char(in.Byte());
  rules.marked = !in.Flag();
  const std::uint8_t splitSeed = in.Byte();
  const std::string raw = in.Rest();

  TInputDecoder whole;
  whole.SetRules(rules);
  const TDecoded once = whole.Decode(raw);
  TInputDecoder pieces;
  pieces.SetRules(rules);
  TDecoded split;
  for (std::size_t at = 0, i = 0; at < raw.size(); ++i) {
    const std::size_t n = 1 + (splitSeed * (i + 3)) % 5;
    const TDecoded part = pieces.Decode(std::string_view(raw).substr(at, n));
    split.bytes += part.bytes;
    split.errors |= part.errors;
    split.breakSeen |= part.breakSeen;
    split.eventCharSeen |= part.eventCharSeen;
    at += n;
  }
  // A mark cut off at the very end waits for more in both, so the results must agree.
  if (split.bytes != once.bytes || split.errors != once.errors ||
      split.breakSeen != once.breakSeen || split.eventCharSeen != once.eventCharSeen) {
    std::abort();
  }
  if (!rules.marked && !rules.discardNull && (once.bytes != raw || once.errors != 0)) std::abort();
  return 0;
}
