#include "CatalogCheck.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace vardelio {
namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kSwappedMagic = 0xde120495;
constexpr std::uint32_t kSegmentsEnd = 0xffffffff;
constexpr std::size_t kHeaderSize = 28;         // magic, revision, count, two tables, hash table
constexpr std::size_t kSysdepHeaderSize = 48;   // + segments and two system-dependent tables
constexpr std::uint64_t kLongestCharset = 255;  // far beyond any charset's name
// glibc converts a translation from another charset than UTF-8 afresh from its start for
// every few KiB it has output: the time grows with the square of the length.
constexpr std::uint64_t kLongestConverted = 64 * 1024;
constexpr std::uint64_t kAnyLength = ~std::uint64_t(0);

// What the entries that glibc may take for the header say of their charset.
struct THeaderCharset {
  bool tooLong = false;    // glibc would copy it onto the stack
  bool converted = false;  // not UTF-8
};

// Every place glibc's loader and lookups read, checked before they may: libintl trusts a
// catalog's offsets, and a damaged file beside the program must not crash or hang it.
class TCatalogLayout {
 public:
  TCatalogLayout(const unsigned char* data, std::size_t size, bool swapped)
      : data_(data), size_(size), swapped_(swapped) {}

  bool Sound() const {
    const std::uint32_t revision = Word(4);
    if ((revision >> 16) > 1) return false;  // glibc reads majors 0 and 1 alike
    const std::uint64_t count = Word(8), hashSize = Word(20);
    if (!StringsFit(Word(12), count) || !StringsFit(Word(16), count)) return false;
    const THeaderCharset charset = HeaderCharset(Word(12), Word(16), count);
    const std::uint64_t longest = charset.converted ? kLongestConverted : kAnyLength;
    if (charset.tooLong || !TranslationsFit(Word(16), count, longest)) return false;
    if ((revision & 0xffff) == 0) {
      return hashSize <= 2 || HashFits(hashSize, Word(24), count, 0);  // 1 or 2: not used
    }
    // Later minor revisions are read as 1, which needs its header and a hash table.
    if (size_ < kSysdepHeaderSize || hashSize <= 2) return false;
    const std::uint64_t segments = Word(28), sysdepCount = Word(36);
    return SegmentsFit(segments, Word(32)) &&
           SysdepStringsFit(segments, sysdepCount, Word(40), Word(44), longest) &&
           HashFits(hashSize, Word(24), count, sysdepCount);
  }

 private:
  std::uint32_t Word(std::uint64_t at) const {
    std::uint32_t value;
    std::memcpy(&value, data_ + at, sizeof value);
    return swapped_ ? __builtin_bswap32(value) : value;
  }
  bool Fits(std::uint64_t at, std::uint64_t length) const {
    return at <= size_ && length <= size_ - at;
  }
  // A table of (length, offset) pairs, each string inside the file and ending in a NUL.
  bool StringsFit(std::uint64_t table, std::uint64_t count) const {
    if (!Fits(table, count * 8)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t length = Word(table + 8 * i), offset = Word(table + 8 * i + 4);
      if (!Fits(offset, length + 1) || data_[offset + length] != '\0') return false;
    }
    return true;
  }
  // Segment names: (length with the NUL, offset) pairs.
  bool SegmentsFit(std::uint64_t count, std::uint64_t table) const {
    if (!Fits(table, count * 8)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t length = Word(table + 8 * i), offset = Word(table + 8 * i + 4);
      if (length == 0 || !Fits(offset, length) || data_[offset + length - 1] != '\0') return false;
    }
    return true;
  }
  bool TranslationsFit(std::uint64_t table, std::uint64_t count, std::uint64_t longest) const {
    for (std::uint64_t i = 0; i < count; ++i) {
      if (Word(table + 8 * i) > longest) return false;
    }
    return true;
  }
  bool SysdepStringsFit(std::uint64_t segments, std::uint64_t count, std::uint64_t originals,
                        std::uint64_t translations, std::uint64_t longest) const {
    if (!Fits(originals, count * 4) || !Fits(translations, count * 4)) return false;
    // msgfmt gives each string its own bytes; strings that share them could make glibc
    // expand far more than the file holds.
    std::uint64_t budget = size_;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (!SysdepStringFits(Word(originals + 4 * i), segments, budget) ||
          CanBeEmpty(Word(originals + 4 * i))) {
        return false;
      }
      const std::uint64_t left = budget;  // what a record uses bounds what it expands to
      if (!SysdepStringFits(Word(translations + 4 * i), segments, budget) ||
          left - budget > longest) {
        return false;
      }
    }
    return true;
  }
  // An identifier glibc could take for the header's; msgfmt never writes one.
  bool CanBeEmpty(std::uint64_t at) const { return Word(at + 4) > 0 && data_[Word(at)] == '\0'; }
  // glibc copies the header's charset name onto the stack of the thread that first looks a
  // text up, and converts from it. Any entry whose identifier is empty may be the header.
  THeaderCharset HeaderCharset(std::uint64_t originals, std::uint64_t translations,
                               std::uint64_t count) const {
    std::vector<std::uint64_t> headers;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (data_[Word(originals + 8 * i + 4)] == '\0')
        headers.push_back(Word(translations + 8 * i + 4));
    }
    std::sort(headers.begin(), headers.end(), std::greater<>());
    return CharsetNamedBy(headers);
  }
  // What the first "charset=" of each of the strings at `starts` (from the last) names. One
  // pass from the end, however the strings overlap.
  THeaderCharset CharsetNamedBy(const std::vector<std::uint64_t>& starts) const {
    static constexpr char kCharset[] = "charset=";
    constexpr std::size_t kLength = sizeof kCharset - 1;  // none of its bytes ends a name
    THeaderCharset named, charset;
    std::uint64_t nameEnd = size_;
    auto start = starts.begin();
    for (std::size_t i = size_; i-- > 0 && start != starts.end();) {
      const unsigned char c = data_[i];
      if (c == '\0' || c == ' ' || c == '\t' || c == '\n') nameEnd = i;
      if (c == '\0') {
        named = {};
      } else if (c == kCharset[0] && size_ - i >= kLength &&
                 std::memcmp(data_ + i, kCharset, kLength) == 0) {
        named.tooLong = nameEnd - i - kLength > kLongestCharset;
        named.converted = named.tooLong || !IsUtf8(i + kLength, nameEnd);
      }
      for (; start != starts.end() && *start == i; ++start) {
        charset.tooLong = charset.tooLong || named.tooLong;
        charset.converted = charset.converted || named.converted;
      }
    }
    return charset;
  }
  // "UTF-8" however spelt: upper or lower case, with or without the hyphen.
  bool IsUtf8(std::uint64_t from, std::uint64_t to) const {
    static constexpr char kName[] = "UTF8";
    std::size_t matched = 0;
    for (std::uint64_t at = from; at < to; ++at) {
      const char c = char(std::toupper(data_[at]));
      if (c == '-' || c == '_') continue;
      if (matched == sizeof kName - 1 || c != kName[matched++]) return false;
    }
    return matched == sizeof kName - 1;
  }
  // The text's offset, then (static size, segment or end) pairs; the static parts together
  // end in a NUL, which the expanded string then holds.
  bool SysdepStringFits(std::uint64_t at, std::uint64_t segments, std::uint64_t& budget) const {
    if (!Fits(at, 4)) return false;
    const std::uint64_t text = Word(at);
    std::uint64_t staticSize = 0, used = 0;
    for (std::uint64_t pair = at + 4;; pair += 8) {
      if (!Fits(pair, 8)) return false;
      staticSize += Word(pair);
      used += Word(pair) + 8;
      if (used > budget) return false;
      const std::uint32_t segment = Word(pair + 4);
      if (segment == kSegmentsEnd) break;
      if (segment >= segments) return false;
    }
    budget -= used;
    return staticSize > 0 && Fits(text, staticSize) && data_[text + staticSize - 1] == '\0';
  }
  bool HashFits(std::uint64_t hashSize, std::uint64_t table, std::uint64_t count,
                std::uint64_t sysdepCount) const {
    if (!Fits(table, hashSize * 4)) return false;
    for (std::uint64_t i = 0; i < hashSize; ++i) {
      if (Word(table + 4 * i) > count) return false;  // 1-based; later ones are glibc's own
    }
    return ProbesEnd(hashSize, table, sysdepCount + 1);
  }
  // glibc probes with a step from 1 to size - 2 until it meets an empty slot, and fills one
  // for each system-dependent string. A step sharing the divisor g with the size visits one
  // class of indices modulo g; every such class must keep an empty slot, and each g divides
  // size / p for a prime p of the size.
  bool ProbesEnd(std::uint64_t hashSize, std::uint64_t table, std::uint64_t emptyNeeded) const {
    std::uint64_t rest = hashSize;
    for (std::uint64_t p = 2; p <= rest; ++p) {
      if (p * p > rest) p = rest;  // what is left is prime
      if (rest % p != 0) continue;
      while (rest % p == 0)
        rest /= p;
      if (!EveryClassHasEmpty(hashSize, table, hashSize / p, emptyNeeded)) return false;
    }
    return true;
  }
  bool EveryClassHasEmpty(std::uint64_t hashSize, std::uint64_t table, std::uint64_t modulus,
                          std::uint64_t emptyNeeded) const {
    std::vector<std::uint32_t> empty(modulus, 0);  // the size is a 32-bit word
    for (std::uint64_t i = 0; i < hashSize; ++i) {
      if (Word(table + 4 * i) == 0) ++empty[i % modulus];
    }
    for (const std::uint32_t n : empty) {
      if (n < emptyNeeded) return false;
    }
    return true;
  }

  const unsigned char* data_;
  std::size_t size_;
  bool swapped_;
};

}  // namespace

bool IsSoundCatalog(const unsigned char* data, std::size_t size) {
  if (size < kHeaderSize) return false;
  std::uint32_t magic = 0;
  std::memcpy(&magic, data, sizeof magic);
  if (magic != kMagic && magic != kSwappedMagic) return false;
  return TCatalogLayout(data, size, magic == kSwappedMagic).Sound();
}

}  // namespace vardelio
