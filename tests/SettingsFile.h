#pragma once
// Where the window's settings file lives in a test run (the test main points XDG_CONFIG_HOME at a
// temporary folder).

#include <QByteArray>
#include <string>

namespace vardelio::test {

inline std::string SettingsPath() {
  return qgetenv("XDG_CONFIG_HOME").toStdString() + "/vardelio/comporttest.ini";
}

}  // namespace vardelio::test
