#pragma once
// The programming files behind the menu "&Archivo": opening, saving, the recent ones, and the
// window's title naming the file in use.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace vardelio {

class TProgrammingWorkflow;

class TFileMenu {
 public:
  // Recent files are listed in `menu` just after `recentAfter`.
  TFileMenu(QWidget* window, TProgrammingWorkflow& workflow, QMenu* menu, QAction* recentAfter);

  // Fills the window from the file and sends nothing; a file that is refused is named in a
  // box and the window stays as it was.
  bool Open(const QString& path);
  // Saves the window's values as they stand; a failure is shown and no file is left half
  // written.
  bool Save(const QString& path);
  // Ask for the file first; a cancelled question does nothing.
  void OpenClick();
  void SaveClick();

  const QString& File() const { return file_; }
  const QStringList& Recent() const { return recent_; }

  // Asks the operator for a file (the save or the open question); empty when cancelled.
  std::function<QString(bool save, const QString& suggested)> AskPath;
  // Told what the operator opens or saves (the line trace records it); may be empty.
  std::function<void(const QString& action)> Note;

 private:
  void InUse(const QString& path);
  void ListRecent();
  QString Suggested(bool save) const;

  QWidget* window_;
  TProgrammingWorkflow& workflow_;
  QMenu* menu_;
  QAction* recentAfter_;
  QString caption_;
  QString file_;
  QStringList recent_;
  QList<QAction*> recentActions_;
};

}  // namespace vardelio
