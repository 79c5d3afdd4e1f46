#pragma once
// Files in a test run: where the window's settings file lives (the test main points
// XDG_CONFIG_HOME at a temporary folder), and a file's whole text.

#include <QByteArray>
#include <fstream>
#include <sstream>
#include <string>

namespace vardelio::test {

inline std::string SettingsPath() {
  return qgetenv("XDG_CONFIG_HOME").toStdString() + "/vardelio/comporttest.ini";
}

// Empty when the file cannot be read.
inline std::string ReadAll(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

}  // namespace vardelio::test
