#include "FileMenu.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QWidget>

#include "ProgrammingFile.h"
#include "RecentFiles.h"
#include "Workflow.h"
#include "framework/Dialogs.h"

namespace vardelio {
namespace {

QString AskWithDialog(QWidget* parent, bool save, const QString& suggested) {
  QFileDialog dialog(
      parent, save ? QStringLiteral("Guardar programación") : QStringLiteral("Abrir programación"),
      suggested, QStringLiteral("Programación de Vardelio (*.vardelio);;Todos los archivos (*)"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (save) dialog.setDefaultSuffix(QString::fromLatin1(kProgrammingFileSuffix.data()));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

// A file's name as a menu item or a title shows it: a control character (a tab would split a
// menu item in two) stands out as a replacement character.
QString ShownName(const QString& path) {
  QString name = QFileInfo(path).fileName();
  for (QChar& c : name) {
    if (c.category() == QChar::Other_Control) c = QChar::ReplacementCharacter;
  }
  return name;
}

// A file name in a menu shows its "&" instead of taking it as an access letter.
QString MenuText(int number, const QString& path) {
  QString name = ShownName(path);
  name.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return QStringLiteral("&%1 %2").arg(number).arg(name);
}

}  // namespace

TFileMenu::TFileMenu(QWidget* window, TProgrammingWorkflow& workflow, QMenu* menu,
                     QAction* recentAfter)
    : window_(window),
      workflow_(workflow),
      menu_(menu),
      recentAfter_(recentAfter),
      caption_(window->windowTitle()),
      recent_(ReadRecentFiles()) {
  AskPath = [this](bool save, const QString& suggested) {
    return AskWithDialog(window_, save, suggested);
  };
  ListRecent();
}

bool TFileMenu::Open(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (Note) Note(QStringLiteral("Abrir programación \"%1\"").arg(absolute));
  // What the unit answers would be written into the file's values.
  if (workflow_.Busy()) {
    ShowMessage(QStringLiteral("Espere a que termine la operación en curso para abrir \"%1\".")
                    .arg(ShownName(absolute)));
    return false;
  }
  try {
    workflow_.Show(LoadProgrammingFile(absolute.toStdString()));
  } catch (const EProgrammingFile& refused) {
    ShowErrorReport(refused.Text());
    return false;
  }
  InUse(absolute);
  return true;
}

bool TFileMenu::Save(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (Note) Note(QStringLiteral("Guardar programación \"%1\"").arg(absolute));
  try {
    SaveProgrammingFile(absolute.toStdString(), workflow_.Values());
  } catch (const EProgrammingFile& failed) {
    ShowErrorReport(failed.Text());
    return false;
  }
  InUse(absolute);
  return true;
}

void TFileMenu::OpenClick() {
  if (const QString path = AskPath(false, Suggested(false)); !path.isEmpty()) Open(path);
}

void TFileMenu::SaveClick() {
  if (const QString path = AskPath(true, Suggested(true)); !path.isEmpty()) Save(path);
}

// The file in use, else the folder of the latest one, else the home folder.
QString TFileMenu::Suggested(bool save) const {
  if (!file_.isEmpty()) return save ? file_ : QFileInfo(file_).absolutePath();
  if (!recent_.isEmpty()) return QFileInfo(recent_.constFirst()).absolutePath();
  return QDir::homePath();
}

void TFileMenu::InUse(const QString& path) {
  file_ = path;
  window_->setWindowTitle(caption_ + QStringLiteral(" - ") + ShownName(path));
  recent_ = AddRecentFile(path);
  ListRecent();
}

// Below the item they follow, in a group of their own.
void TFileMenu::ListRecent() {
  for (QAction* old : std::exchange(recentActions_, {})) {
    menu_->removeAction(old);
    old->setObjectName({});
    old->deleteLater();  // it may be the one whose click runs this
  }
  if (recent_.isEmpty()) return;
  auto* separator = new QAction(menu_);
  separator->setSeparator(true);
  recentActions_ << separator;
  for (int i = 0; i < recent_.size(); ++i) {
    const QString path = recent_[i];
    auto* action = new QAction(MenuText(i + 1, path), menu_);
    action->setObjectName(QStringLiteral("RecentFile%1").arg(i + 1));
    // The whole path as a tooltip only: the window's status bar holds no text.
    action->setToolTip(path);
    // Not the menu as context: a menu drops every connection to itself of an action it loses.
    QObject::connect(action, &QAction::triggered, window_,
                     [this, path] { RunReported([this, &path] { Open(path); }); });
    recentActions_ << action;
  }
  const QList<QAction*> items = menu_->actions();
  const qsizetype after = items.indexOf(recentAfter_);
  menu_->insertActions(items.value(after + 1, nullptr), recentActions_);
}

}  // namespace vardelio
