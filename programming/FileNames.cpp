#include "FileNames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "framework/Ansi.h"

namespace vardelio {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // + the byte (0x80..0xFF)

// The length of the valid UTF-8 sequence at `at` and its code point; 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF are not).
int Utf8Sequence(std::string_view bytes, std::size_t at, char32_t* point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  int length = 0;
  char32_t value = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    *point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (at + std::size_t(length) > bytes.size()) return 0;
  for (int i = 1; i < length; ++i) {
    const unsigned char next = byte(at + std::size_t(i));
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *point = value;
  return length;
}

// A lone low surrogate in the range; one after a high surrogate is half of a character
// outside the first plane.
bool IsEscapedByte(const QString& name, qsizetype i) {
  const char16_t unit = name[i].unicode();
  return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF &&
         (i == 0 || !name[i - 1].isHighSurrogate());
}

}  // namespace

QString FileNameFromBytes(std::string_view bytes) {
  QString name;
  name.reserve(qsizetype(bytes.size()));
  for (std::size_t at = 0; at < bytes.size();) {
    char32_t point = 0;
    if (const int length = Utf8Sequence(bytes, at, &point); length > 0) {
      name.append(QString::fromUcs4(&point, 1));
      at += std::size_t(length);
    } else {
      name.append(QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes[at++]))));
    }
  }
  return name;
}

std::string FileNameBytes(const QString& name) {
  std::string bytes;
  bytes.reserve(std::size_t(name.size()));
  qsizetype from = 0;  // the start of the run of ordinary characters not yet encoded
  const auto flush = [&](qsizetype to) {
    bytes += QStringView(name).mid(from, to - from).toUtf8().toStdString();
  };
  for (qsizetype i = 0; i < name.size(); ++i) {
    if (!IsEscapedByte(name, i)) continue;
    flush(i);
    bytes.push_back(static_cast<char>(name[i].unicode() - kEscapeBase));
    from = i + 1;
  }
  flush(name.size());
  return bytes;
}

QString ReadableFileName(const QString& name) {
  QString shown;
  shown.reserve(name.size());
  for (qsizetype i = 0; i < name.size(); ++i) {
    QChar readable = name[i];
    if (IsEscapedByte(name, i)) {
      const char byte = static_cast<char>(name[i].unicode() - kEscapeBase);
      readable = FromAnsi(std::string_view(&byte, 1)).at(0);
    }
    // A tab would split a menu item in two; a C1 code has no picture.
    if (readable.category() == QChar::Other_Control) readable = QChar::ReplacementCharacter;
    shown.append(readable);
  }
  return shown;
}

std::string AbsoluteFileName(const std::string& bytes) {
  if (bytes.empty() || bytes.front() == '/') return bytes;
  char folder[PATH_MAX];
  if (::getcwd(folder, sizeof folder) == nullptr) return bytes;  // the folder is gone
  std::string absolute = folder;
  if (absolute.back() != '/') absolute += '/';
  return absolute + bytes;
}

bool FileNameExists(const QString& name) {
  struct stat info {};
  return ::stat(FileNameBytes(name).c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

}  // namespace vardelio
