#pragma once
// The programming files behind the menu "&Archivo": opening, saving, starting anew, the recent
// ones, and the window's title naming the file in use and marking unsaved changes.
//
// The customer's values are never lost: whatever replaces or ends them (opening another file,
// "Nuevo", closing the window) asks first, through AskToDiscard.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "programming/PanelFrames.h"

class QAction;
class QMenu;
class QWidget;

namespace vardelio {

class TProgrammingWorkflow;

class TFileMenu {
 public:
  // Recent files are listed in `menu` just after `recentAfter`.
  TFileMenu(QWidget* window, TProgrammingWorkflow& workflow, QMenu* menu, QAction* recentAfter);

  // Fills the window from the file and sends nothing, once unsaved changes are saved or given
  // up; a file that is refused is named in a box and the window stays as it was. Asked for
  // while this menu's own dialog or question waits for the operator (a file handed over by
  // another launch comes through their event loop), it waits and is opened after them.
  bool Open(const QString& path);
  // Saves the window's values as they stand; values a file could not give back, and a save
  // while an operation is under way, are refused with a box, and no file is left half written.
  bool Save(const QString& path);
  // Ask for the file first; a cancelled question does nothing.
  void OpenClick();
  bool SaveClick();
  // Empty entries and the first button of each group, in no file.
  bool New();
  // True when nothing unsaved is lost: nothing to save, saved, or the operator gives it up.
  bool AskToDiscard();
  // Values the operator may want kept: they differ from the file's (or, with no file, from an
  // empty window). Empty entries hold nothing that could be kept, as after a send.
  bool Modified() const;

  const QString& File() const { return file_; }
  const QStringList& Recent() const { return recent_; }

  // Asks the operator for a file (the save or the open question); empty when cancelled.
  std::function<QString(bool save, const QString& suggested)> AskPath;
  // Told what the operator opens or saves (the line trace records it); may be empty.
  std::function<void(const QString& action)> Note;

 private:
  void InUse(const QString& path);
  bool RefusedWhileBusy(const char* action, const QString& path) const;
  void ShowTitle();
  void ListRecent();
  QString Suggested(bool save) const;
  // Runs a dialog or a question; files to open meanwhile wait for it.
  template <typename F>
  auto Asking(F&& ask);

  QWidget* window_;
  TProgrammingWorkflow& workflow_;
  QMenu* menu_;
  QAction* recentAfter_;
  QString caption_;
  QString file_;
  TPanelProgramming saved_;  // what the file in use holds
  QStringList recent_;
  QList<QAction*> recentActions_;
  int asking_ = 0;
  QStringList waiting_;  // files to open once no question is open
};

}  // namespace vardelio
