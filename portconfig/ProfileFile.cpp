#include "ProfileFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <vector>

#include "SettingsText.h"
#include "UserFile.h"

namespace vardelio {
namespace {

constexpr std::size_t kMaxValue = 2047;

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One pair of double quotes around a value is not part of it; single quotes are.
std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool SameName(const std::string& a, const std::string& b) {
  return AsciiUpper(a) == AsciiUpper(b);
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A profile file's lines, with the marks of how its owner wrote it: each line keeps its own
// end, so a file of mixed ends stays as it was but for the key written.
struct TProfileLines {
  std::vector<std::string> lines;  // without their line ends
  std::vector<std::string> ends;   // "\r\n", "\n", "\r", or none after a last unfinished line
  std::string newEnd = "\n";       // for lines the writer adds: the first line's style
  bool byteOrderMark = false;

  void Insert(std::size_t at, std::string line) {
    if (at == lines.size() && !ends.empty() && ends.back().empty()) ends.back() = newEnd;
    lines.insert(lines.begin() + std::ptrdiff_t(at), std::move(line));
    ends.insert(ends.begin() + std::ptrdiff_t(at), newEnd);
  }
};

// A line ends at LF, CR LF or a lone CR (as old Mac files end them); each keeps its own end.
TProfileLines SplitLines(std::string_view rest) {
  TProfileLines file;
  if (rest.starts_with(kByteOrderMark)) {
    file.byteOrderMark = true;
    rest.remove_prefix(kByteOrderMark.size());
  }
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find_first_of("\r\n"), rest.size());
    std::size_t endLength = end < rest.size() ? 1 : 0;
    if (rest.substr(end).starts_with("\r\n")) endLength = 2;
    std::string ending(rest.substr(end, endLength));
    if (file.lines.empty() && !ending.empty()) file.newEnd = ending;
    file.lines.emplace_back(rest.substr(0, end));
    file.ends.push_back(std::move(ending));
    rest.remove_prefix(end + endLength);
  }
  return file;
}

std::string JoinLines(const TProfileLines& file) {
  std::string text = file.byteOrderMark ? std::string(kByteOrderMark) : std::string();
  for (std::size_t i = 0; i < file.lines.size(); ++i)
    text += file.lines[i] + file.ends[i];
  return text;
}

// "[name]" gives the name.
std::optional<std::string> SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
  return Trim(t.substr(1, t.size() - 2));
}

std::optional<std::string> KeyOf(const std::string& line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos || SectionOf(line)) return std::nullopt;
  return Trim(line.substr(0, equals));
}

struct TLocation {
  std::optional<std::size_t> section;  // index of the header line
  std::optional<std::size_t> key;      // index of the key line
  std::size_t sectionEnd = 0;          // one past its last non-empty line
};

TLocation Find(const std::vector<std::string>& lines, const std::string& section,
               const std::string& key) {
  TLocation at;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = SectionOf(lines[i])) {
      if (at.section) break;  // the next section ends ours
      if (SameName(*name, section)) {
        at.section = i;
        at.sectionEnd = i + 1;
      }
      continue;
    }
    if (!at.section) continue;
    if (!Trim(lines[i]).empty()) at.sectionEnd = i + 1;
    if (const auto name = KeyOf(lines[i]); name && !at.key && SameName(*name, key)) at.key = i;
  }
  return at;
}

// Replaces or adds the key in the file's text.
std::string WithKey(const std::string& text, const std::string& section, const std::string& key,
                    const std::string& value) {
  TProfileLines file = SplitLines(text);
  const TLocation at = Find(file.lines, section, key);
  const std::string entry = key + "=" + value;
  if (at.key) {
    file.lines[*at.key] = entry;  // its own line end stays
  } else if (at.section) {
    file.Insert(at.sectionEnd, entry);
  } else {
    if (!file.lines.empty() && !Trim(file.lines.back()).empty()) file.Insert(file.lines.size(), "");
    file.Insert(file.lines.size(), "[" + section + "]");
    file.Insert(file.lines.size(), entry);
  }
  return JoinLines(file);
}

}  // namespace

std::string ConfigFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/vardelio";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/vardelio";
}

void MakeFolders(const std::string& folder) {
  std::string partial;
  std::stringstream parts(folder);
  for (std::string part; std::getline(parts, part, '/');) {
    if (part.empty()) continue;
    partial += "/" + part;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      throw EProfileError("Cannot create " + folder + ": " + std::strerror(errno));
    }
  }
}

std::string ProfilePath(const std::string& fileName) {
  if (fileName.find('/') != std::string::npos) return fileName;
  return ConfigFolder() + "/" + fileName;
}

std::string ReadProfileString(const std::string& fileName, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  const std::optional<std::string> text = ReadUserFile(ProfilePath(fileName));
  const std::vector<std::string> lines = SplitLines(text.value_or("")).lines;
  const TLocation at = Find(lines, section, key);
  if (!at.key) return defaultValue.substr(0, kMaxValue);
  const std::string& line = lines[*at.key];
  return Unquoted(Trim(line.substr(line.find('=') + 1))).substr(0, kMaxValue);
}

void WriteProfileString(const std::string& fileName, const std::string& section,
                        const std::string& key, const std::string& value) {
  // A line break would end the entry, and what follows would be keys and sections of its own.
  if ((section + key + value).find_first_of("\r\n") != std::string::npos) {
    throw EProfileError("Cannot write " + ProfilePath(fileName) + ": " + key +
                        " holds a line break");
  }
  if (fileName.find('/') == std::string::npos) MakeFolders(ConfigFolder());
  UpdateUserFile(ProfilePath(fileName),
                 [&](const std::string& old) { return WithKey(old, section, key, value); });
}

}  // namespace vardelio
