#include "RecentFiles.h"

#include <algorithm>

#include "portconfig/ProfileFile.h"
#include "portconfig/UserFile.h"
#include "programming/FileNames.h"

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
  // Split as bytes: a name that is not UTF-8 keeps its bytes.
  for (const QByteArray& bytes : QByteArray::fromStdString(text).split('\n')) {
    const QString line = FileNameFromBytes(std::string_view(bytes.constData(), bytes.size()));
    if (line.startsWith(QLatin1Char('/')) && !list.contains(line)) list << line;
    if (list.size() == kRecentFilesKept) break;
  }
  return list;
}

std::string RecentFilesText(const QStringList& list) {
  std::string text;
  for (const QString& path : list)
    text += FileNameBytes(path) + "\n";
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

QStringList ForgetMissingRecentFiles(const QStringList& list) {
  const auto missing = [](const QString& path) { return !FileNameExists(path); };
  if (std::none_of(list.begin(), list.end(), missing)) return list;
  QStringList kept = list;
  kept.removeIf(missing);
  try {
    UpdateUserFile(RecentFilesPath(), [&](const std::string& old) {
      kept = ParseRecentFiles(old);
      kept.removeIf(missing);
      return RecentFilesText(kept);
    });
  } catch (const EProfileError&) {
    // The menu still leaves them out; the file is tried again next time.
  }
  return kept;
}

}  // namespace vardelio
