#include "FileMenu.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#include "RecentFiles.h"
#include "Workflow.h"
#include "framework/Dialogs.h"
#include "programming/FileNames.h"
#include "programming/ProgrammingFile.h"

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

// A file's name as a menu item or a title shows it.
QString ShownName(const QString& path) {
  return ReadableFileName(QFileInfo(path).fileName());
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
  workflow_.WhenValuesChange(window_, [this] { ShowTitle(); });
  // A file deleted since it was listed is no longer offered.
  QObject::connect(menu_, &QMenu::aboutToShow, window_, [this] {
    const QStringList kept = ForgetMissingRecentFiles(recent_);
    if (kept == recent_) return;
    recent_ = kept;
    ListRecent();
  });
}

bool TFileMenu::RefusedWhileBusy(const char* action, const QString& path) const {
  // What the unit answers would be written into the entries meanwhile.
  if (!workflow_.Busy()) return false;
  const QString name = path.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(ShownName(path));
  ShowMessage(QStringLiteral("Espere a que termine la operación en curso para %1%2.")
                  .arg(QString::fromUtf8(action), name));
  return true;
}

// The answer to a question is about the values it was asked over: nothing may replace them
// before it is given.
template <typename F>
auto TFileMenu::Asking(F&& ask) {
  ++asking_;
  const auto done = qScopeGuard([this] {
    if (--asking_ > 0 || waiting_.isEmpty()) return;
    QTimer::singleShot(0, window_, [this] {
      for (const QString& path : std::exchange(waiting_, {}))
        RunReported([this, &path] { Open(path); });
    });
  });
  return ask();
}

bool TFileMenu::Open(const QString& path) {
  if (asking_ > 0) {
    waiting_ << path;
    return false;
  }
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (Note) Note(QStringLiteral("Abrir programación \"%1\"").arg(ReadableFileName(absolute)));
  if (RefusedWhileBusy("abrir", absolute)) return false;
  TPanelProgramming values;
  const auto load = [&] {
    try {
      values = LoadProgrammingFile(FileNameBytes(absolute));
      return true;
    } catch (const EProgrammingFile& refused) {
      ShowErrorReport(refused.Text());
      recent_ = ForgetMissingRecentFiles(recent_);
      ListRecent();
      return false;
    }
  };
  // Read before the question, so that a file that is refused asks nothing in vain, and again
  // after it: the answer may have saved into this very file.
  const bool asks = Modified();
  if (!load()) return false;
  // The question may let another operation start; it is asked again.
  if (!AskToDiscard() || RefusedWhileBusy("abrir", absolute)) return false;
  if (asks && !load()) return false;
  workflow_.Show(values);
  saved_ = workflow_.Values();
  InUse(absolute);
  return true;
}

bool TFileMenu::Save(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (Note) Note(QStringLiteral("Guardar programación \"%1\"").arg(ReadableFileName(absolute)));
  if (RefusedWhileBusy("guardar", absolute)) return false;
  const TPanelProgramming values = workflow_.Values();
  try {
    SaveProgrammingFile(FileNameBytes(absolute), values);
  } catch (const EProgrammingFile& failed) {
    ShowErrorReport(failed.Text());
    return false;
  }
  saved_ = values;
  InUse(absolute);
  return true;
}

bool TFileMenu::New() {
  if (RefusedWhileBusy("empezar una programación nueva", {}) || !AskToDiscard()) return false;
  workflow_.Show({});
  saved_ = workflow_.Values();
  file_.clear();
  ShowTitle();
  return true;
}

bool TFileMenu::Modified() const {
  const TPanelProgramming values = workflow_.Values();
  const bool empty =
      values.Subscriber.empty() && values.MainPhone.empty() && values.BackupPhone.empty();
  return !empty && values != saved_;
}

bool TFileMenu::AskToDiscard() {
  if (!Modified()) return true;
  const QString name =
      file_.isEmpty() ? QString() : QStringLiteral(" de \"%1\"").arg(ShownName(file_));
  switch (Asking([&] {
    return AskQuestion(
        QStringLiteral("La programación%1 tiene cambios sin guardar.\n\n"
                       "¿Desea guardarlos?")
            .arg(name),
        {QStringLiteral("Guardar"), QStringLiteral("Descartar"), QStringLiteral("Cancelar")});
  })) {
    case 0:
      return Asking([this] { return SaveClick(); });
    case 1:
      return true;
    default:
      return false;
  }
}

void TFileMenu::OpenClick() {
  const QString path = Asking([this] { return AskPath(false, Suggested(false)); });
  if (!path.isEmpty()) Open(path);
}

// What Save would refuse is refused before the question, so no file is chosen in vain.
bool TFileMenu::SaveClick() {
  if (RefusedWhileBusy("guardar", file_)) return false;
  if (const auto fault = CheckProgramming(workflow_.Values())) {
    ShowErrorReport(QStringLiteral("No se puede guardar la programación.\n\n%1: %2.")
                        .arg(fault->field, fault->problem));
    return false;
  }
  const QString path = Asking([this] { return AskPath(true, Suggested(true)); });
  return !path.isEmpty() && Save(path);
}

// The file in use, else the folder of the latest one, else the home folder. Qt's dialogs take
// names as UTF-8: one cannot enter a folder named otherwise, and would start in the folder above
// it, where the offered name is another file. It starts in the home folder, offering no name.
QString TFileMenu::Suggested(bool save) const {
  const auto reachable = [](const QString& folder) {
    return FileNameBytes(folder) == folder.toUtf8().toStdString();
  };
  if (!file_.isEmpty()) {
    const QString folder = QFileInfo(file_).absolutePath();
    if (!reachable(folder)) return QDir::homePath();
    return save ? file_ : folder;
  }
  if (!recent_.isEmpty()) {
    const QString latest = QFileInfo(recent_.constFirst()).absolutePath();
    if (reachable(latest)) return latest;
  }
  return QDir::homePath();
}

void TFileMenu::InUse(const QString& path) {
  file_ = path;
  ShowTitle();
  recent_ = AddRecentFile(path);
  ListRecent();
}

// "*" ahead of the title while there are unsaved changes.
void TFileMenu::ShowTitle() {
  QString title = caption_;
  if (!file_.isEmpty()) title += QStringLiteral(" - ") + ShownName(file_);
  if (Modified()) title.prepend(QLatin1Char('*'));
  if (title != window_->windowTitle()) window_->setWindowTitle(title);
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
    action->setToolTip(ReadableFileName(path));
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
