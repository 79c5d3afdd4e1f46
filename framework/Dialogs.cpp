#include "Dialogs.h"

#include <QScreen>
#include <QWidget>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "Ansi.h"

namespace vardelio {
namespace {

class TWidgetPresenter final : public TMessagePresenter {
 public:
  void ShowError(const QString& caption, const QString& text) override {
    Show(QMessageBox::Critical, caption, text);
  }
  void ShowPlain(const QString& caption, const QString& text) override {
    Show(QMessageBox::NoIcon, caption, text);
  }
  void Beep() override { QApplication::beep(); }
  int Ask(const QString& caption, const QString& text, const QStringList& buttons) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    QList<QAbstractButton*> added;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
      const bool last = i + 1 == buttons.size();
      added << box.addButton(buttons[i], i == 0 ? QMessageBox::AcceptRole
                                         : last ? QMessageBox::RejectRole
                                                : QMessageBox::DestructiveRole);
    }
    if (!added.isEmpty()) {
      box.setDefaultButton(qobject_cast<QPushButton*>(added.constFirst()));
      box.setEscapeButton(added.constLast());
    }
    box.exec();
    const qsizetype chosen = added.indexOf(box.clickedButton());
    return int(chosen < 0 ? buttons.size() - 1 : chosen);
  }

 private:
  // exec() keeps the event loop running, so timers and received data are still served.
  static void Show(QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
  }
};

TWidgetPresenter& DefaultPresenter() {
  static TWidgetPresenter presenter;
  return presenter;
}

TMessagePresenter* current = nullptr;
QString title;
TBoxListener boxListener;

TMessagePresenter& Presenter() {
  return current != nullptr ? *current : DefaultPresenter();
}

}  // namespace

int TMessagePresenter::Ask(const QString&, const QString&, const QStringList& buttons) {
  return int(buttons.size()) - 1;
}

TMessagePresenter* SetMessagePresenter(TMessagePresenter* presenter) {
  return std::exchange(current, presenter);
}

QString ApplicationTitle() {
  return title;
}
void SetApplicationTitle(const QString& newTitle) {
  title = newTitle;
}

QString ErrorReportText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void SetBoxListener(TBoxListener listener) {
  boxListener = std::move(listener);
}

void ShowErrorReport(const QString& message) {
  const QString text = ErrorReportText(message);
  if (boxListener) boxListener(true, text);
  Presenter().ShowError(ApplicationTitle(), text);
}

void ReportException(const std::exception& error) {
  ShowErrorReport(FromAnsi(error.what()));
}

void ShowMessage(const QString& text) {
  if (boxListener) boxListener(false, text);
  Presenter().ShowPlain(ApplicationTitle(), text);
}

void MessageBeep() {
  Presenter().Beep();
}

int AskQuestion(const QString& text, const QStringList& buttons) {
  return Presenter().Ask(ApplicationTitle(), text, buttons);
}

void CentreOnScreen(QWidget* window) {
  if (QScreen* screen = window->screen()) {
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
  }
}

}  // namespace vardelio
