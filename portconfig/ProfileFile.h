#pragma once
// Profile (INI) files read and written one key at a time, every other line kept.

#include <string>

#include "UserFile.h"

namespace vardelio {

// The user's configuration folder for this program: $XDG_CONFIG_HOME/vardelio, by default
// ~/.config/vardelio.
std::string ConfigFolder();
// Creates the folder and its parents; raises EProfileError when it cannot.
void MakeFolders(const std::string& folder);

// A bare file name lives in the configuration folder; a path is used as it is.
std::string ProfilePath(const std::string& fileName);

// Section and key match without regard to case; one pair of double quotes around the value is
// dropped, and the value is read up to 2047 characters. A line ends at LF, CR LF or a lone CR.
// A missing file reads as empty; one that cannot be read raises EProfileError.
std::string ReadProfileString(const std::string& fileName, const std::string& section,
                              const std::string& key, const std::string& defaultValue);
// Replaces or adds one key, keeping every other line, the line ends and a byte-order mark;
// the file is read and written under a lock (see UpdateUserFile). Raises EProfileError when it
// cannot be read or written, or when the section, key or value holds a line break, leaving it
// as it was.
void WriteProfileString(const std::string& fileName, const std::string& section,
                        const std::string& key, const std::string& value);

// An INI file as the persistence of the port sees it.
class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const {
    return ReadProfileString(fileName_, section, key, defaultValue);
  }
  void WriteString(const std::string& section, const std::string& key, const std::string& value) {
    WriteProfileString(fileName_, section, key, value);
  }

 private:
  std::string fileName_;
};

}  // namespace vardelio
