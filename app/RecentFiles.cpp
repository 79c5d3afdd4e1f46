#include "RecentFiles.h"

#include "portconfig/ProfileFile.h"
#include "portconfig/UserFile.h"

namespace vardelio {

std::string RecentFilesPath() {
  return ConfigFolder() + "/recent-files";
}

QStringList WithRecentFile(QStringList list, const QString& path) {
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kRecentFilesKept)
    list.removeLast();
  return list;
}

QStringList ParseRecentFiles(const std::string& text) {
  QStringList list;
  for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
    if (line.startsWith(QLatin1Char('/')) && !list.contains(line)) list << line;
    if (list.size() == kRecentFilesKept) break;
  }
  return list;
}

std::string RecentFilesText(const QStringList& list) {
  std::string text;
  for (const QString& path : list)
    text += path.toStdString() + "\n";
  return text;
}

QStringList ReadRecentFiles() {
  try {
    return ParseRecentFiles(ReadUserFile(RecentFilesPath()).value_or(""));
  } catch (const EProfileError&) {
    return {};
  }
}

QStringList AddRecentFile(const QString& path) {
  // A name with a line break cannot be kept one a line; it is simply not remembered.
  if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r')))
    return ReadRecentFiles();
  QStringList list;
  try {
    MakeFolders(ConfigFolder());
    UpdateUserFile(
        RecentFilesPath(),
        [&](const std::string& old) {
          list = WithRecentFile(ParseRecentFiles(old), path);
          return RecentFilesText(list);
        },
        kCustomerFileRules);
  } catch (const EProfileError&) {
    return WithRecentFile(ReadRecentFiles(), path);
  }
  return list;
}

}  // namespace vardelio
