#include "ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "SettingsText.h"

namespace vardelio {
namespace {

constexpr std::size_t kMaxValue = 2047;

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return AsciiUpper(a) == AsciiUpper(b);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
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

[[noreturn]] void Fail(const std::string& path, int error) {
  throw EProfileError("Cannot write " + path + ": " + std::strerror(error));
}

// Writes the lines to a temporary file beside `path` and renames it over `path`.
void ReplaceFile(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) Fail(path, errno);
  struct stat old {};
  fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      close(fd);
      unlink(temp.c_str());
      Fail(path, error);
    }
    data += n;
    left -= std::size_t(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temp.c_str());
    Fail(path, error);
  }
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
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) Fail(folder, errno);
  }
}

std::string ProfilePath(const std::string& fileName) {
  if (fileName.find('/') != std::string::npos) return fileName;
  return ConfigFolder() + "/" + fileName;
}

std::string ReadProfileString(const std::string& fileName, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  const std::vector<std::string> lines = ReadLines(ProfilePath(fileName));
  const TLocation at = Find(lines, section, key);
  if (!at.key) return defaultValue.substr(0, kMaxValue);
  const std::string& line = lines[*at.key];
  return Trim(line.substr(line.find('=') + 1)).substr(0, kMaxValue);
}

void WriteProfileString(const std::string& fileName, const std::string& section,
                        const std::string& key, const std::string& value) {
  const std::string path = ProfilePath(fileName);
  if (fileName.find('/') == std::string::npos) MakeFolders(ConfigFolder());
  std::vector<std::string> lines = ReadLines(path);
  const TLocation at = Find(lines, section, key);
  const std::string entry = key + "=" + value;
  if (at.key) {
    lines[*at.key] = entry;
  } else if (at.section) {
    lines.insert(lines.begin() + std::ptrdiff_t(at.sectionEnd), entry);
  } else {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  }
  ReplaceFile(path, lines);
}

}  // namespace vardelio
