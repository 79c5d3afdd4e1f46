#include "Ansi.h"

#include <array>

namespace vardelio {
namespace {

// 0x80..0x9F differ from Latin-1; 0 marks the five codes Windows-1252 leaves undefined.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t Decode(unsigned char byte) {
  if (byte < 0x80 || byte > 0x9F) return byte;
  const char16_t mapped = kHighControls[byte - 0x80];
  return mapped != 0 ? mapped : char16_t(byte);  // undefined codes pass through, as Windows does
}

char Encode(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == unit) return static_cast<char>(0x80 + i);
  }
  if (unit >= 0x80 && unit <= 0x9F) return static_cast<char>(unit);
  return '?';
}

}  // namespace

QString FromAnsi(std::string_view bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char byte : bytes)
    text.append(QChar(Decode(static_cast<unsigned char>(byte))));
  return text;
}

std::string ToAnsi(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    // One "?" for a character outside the first plane, not one per surrogate half.
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
    bytes.push_back(text[i].isSurrogate() ? '?' : Encode(text[i].unicode()));
  }
  return bytes;
}

bool IsAnsi(QChar c) {
  return !c.isSurrogate() && (c == u'?' || Encode(c.unicode()) != '?');
}

}  // namespace vardelio
