#pragma once
// The programming files opened or saved last, kept in the configuration folder.

#include <QStringList>
#include <string>

namespace vardelio {

inline constexpr int kRecentFilesKept = 4;

// $XDG_CONFIG_HOME/vardelio/recent-files: one absolute path a line, the latest first.
std::string RecentFilesPath();

// `path` first, without an older mention of it, at most kRecentFilesKept in all.
QStringList WithRecentFile(QStringList list, const QString& path);

QStringList ParseRecentFiles(const std::string& text);
std::string RecentFilesText(const QStringList& list);

// An unreadable list reads as empty: it only saves the operator a search.
QStringList ReadRecentFiles();
// Adds `path` to the list as it stands in the file, so two programs lose neither's entry, and
// gives the new list. A list that cannot be stored is left as it was.
QStringList AddRecentFile(const QString& path);
// Takes the files that no longer exist off the list, in the file too, and gives the new list.
QStringList ForgetMissingRecentFiles(const QStringList& list);

}  // namespace vardelio
