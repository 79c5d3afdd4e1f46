#pragma once
// Turns the terminal's marked input (PARMRK) into the bytes and line errors the port reports.

#include <cstdint>
#include <string>
#include <string_view>

namespace vardelio {

struct TInputRules {
  bool marked = true;          // the terminal marks errors and breaks (PARMRK)
  bool discardNull = false;    // drop received zero bytes
  bool replaceErrors = false;  // a byte received with an error becomes `errorChar`
  char errorChar = 0;
  bool parityChecked = false;  // marked bytes are parity errors, else framing errors
  char eventChar = 0;
};

struct TDecoded {
  std::string bytes;
  std::uint32_t errors = 0;  // CE_ flags
  bool breakSeen = false;
  bool eventCharSeen = false;
};

// The line events (EV_ flags) one decoded read raises, given what our queue of `capacity`
// bytes held before and after it took the bytes: a break is its own event, not a line error.
std::uint32_t EventsOfRead(const TDecoded& decoded, std::size_t before, std::size_t after,
                           std::size_t capacity);

class TInputDecoder {
 public:
  void SetRules(const TInputRules& rules) { rules_ = rules; }
  // Marks may be split across reads: an unfinished one is kept for the next call.
  TDecoded Decode(std::string_view raw);
  void Reset() { pending_.clear(); }

 private:
  void Emit(TDecoded& out, char byte) const;
  void EmitRun(TDecoded& out, std::string_view run) const;

  TInputRules rules_;
  std::string pending_;
};

}  // namespace vardelio
