// Writing one key into any file: it reads back, every other line stays, the mode stays, and
// no temporary is left beside it.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "FuzzInput.h"
#include "portconfig/ProfileFile.h"

using namespace vardelio;

namespace {

const std::string& Folder() {
  return fuzz::TempFolder();
}

// What a name or value can be on one line of a profile file, without the blanks the reader
// trims from its ends.
std::string OneLine(std::string text, const char* forbidden) {
  std::string kept;
  for (const char c : text) {
    if (c != '\n' && c != '\r' && !std::strchr(forbidden, c) && c != '\0') kept += c;
  }
  while (!kept.empty() && (kept.front() == ' ' || kept.front() == '\t'))
    kept.erase(0, 1);
  while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\t'))
    kept.pop_back();
  return kept;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  // LF, CR LF and a lone CR each end a line.
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      line += text[i];
      continue;
    }
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(std::move(line));
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// What a reader gets back: one pair of double quotes around the value is not part of it.
std::string ReadBack(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Every old line still stands, in order, but for the one that held the key.
bool KeptAllBut(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  std::size_t j = 0, missing = 0;
  for (const std::string& line : before) {
    while (j < after.size() && after[j] != line)
      ++j;
    if (j == after.size()) {
      if (++missing > 1) return false;
      j = 0;
      continue;
    }
    ++j;
  }
  return true;
}

std::size_t EntriesIn(const std::string& folder) {
  std::size_t count = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* e = readdir(dir))
      count += e->d_name[0] != '.' || std::strncmp(e->d_name, ".vardelio-", 10) == 0;
    closedir(dir);
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::TFuzzInput in(data, size);
  const std::string section = OneLine(in.Text(8), "[]=");
  const std::string key = OneLine(in.Text(8), "[]=;");
  const std::string value = OneLine(in.Text(24), "");
  const mode_t mode = 0200 | (in.Byte() & 0644);  // writable by its owner
  const std::string content = in.Rest();
  if (section.empty() || key.empty()) return 0;

  const std::string path = Folder() + "/settings.ini";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  chmod(path.c_str(), mode);
  const std::vector<std::string> before = Lines(path);
  try {
    WriteProfileString(path, section, key, value);
  } catch (const EProfileError&) {
    std::abort();  // a writable file in a writable folder takes any key
  }
  struct stat st {};
  stat(path.c_str(), &st);
  if ((st.st_mode & 07777) != mode) std::abort();
  if (ReadProfileString(path, section, key, "\x01") != ReadBack(value)) std::abort();
  if (!KeptAllBut(before, Lines(path))) std::abort();
  if (EntriesIn(Folder()) != 1) std::abort();
  return 0;
}
