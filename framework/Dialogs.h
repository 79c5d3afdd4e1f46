#pragma once
// The program's modal boxes, its error report and its beep, behind one replaceable presenter.

#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

class QWidget;

namespace vardelio {

// Where boxes and beeps go. The default opens real modal boxes; tests install a recorder.
class TMessagePresenter {
 public:
  virtual ~TMessagePresenter() = default;
  virtual void ShowError(const QString& caption, const QString& text) = 0;
  virtual void ShowPlain(const QString& caption, const QString& text) = 0;
  virtual void Beep() = 0;
  // A question with its buttons, the last of which cancels; gives the index of the one chosen.
  // Only the program's own presenter opens a box: any other answers with the last button.
  virtual int Ask(const QString& caption, const QString& text, const QStringList& buttons);
};

// Installs `presenter` (nullptr: the default one) and returns the one it replaces.
TMessagePresenter* SetMessagePresenter(TMessagePresenter* presenter);

QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// The error report's text: the message with "." added when its last character sorts after ".".
QString ErrorReportText(const QString& message);

// Told the text of every box as it is shown (error: whether it is the error report), so the
// line trace can record what the operator was told; an empty one tells nobody.
using TBoxListener = std::function<void(bool error, const QString& text)>;
void SetBoxListener(TBoxListener listener);

// Modal box with an error icon, captioned with the application title.
void ShowErrorReport(const QString& message);
void ReportException(const std::exception& error);
// Modal box with the text and one "OK", no icon, captioned with the application title.
void ShowMessage(const QString& text);
void MessageBeep();
// A question box with the buttons named, captioned with the application title; the last
// button, or Escape, cancels. Gives the index of the button chosen.
int AskQuestion(const QString& text, const QStringList& buttons);

// Runs a handler and shows any exception it raises in the error report, so that
// nothing unwinds through the window system's own frames.
template <typename F>
void RunReported(F&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ReportException(error);
  }
}

// Puts a window's frame in the middle of its screen's free area.
void CentreOnScreen(QWidget* window);

}  // namespace vardelio
