#pragma once
// "Programación" > "Programar en serie...": one unit after another from a list; says who is
// next, waits for Enter, sends and verifies, and shows each unit's result and time.

#include <QDialog>
#include <functional>
#include <memory>

#include "programming/BatchList.h"

namespace Ui {
class TBatchForm;
}

namespace vardelio {

class THistoryWriter;

class TBatchForm : public QDialog {
  Q_OBJECT
 public:
  // Sends and verifies one unit's values on the window's line, returning once evaluated;
  // raises the port's error when the line cannot be written.
  using TVerifyOne = std::function<TSessionResult(const TPanelProgramming&)>;

  TBatchForm(std::vector<TBatchItem> items, TVerifyOne verify, std::string port,
             THistoryWriter* history, QWidget* parent = nullptr);
  ~TBatchForm() override;

  const TBatchRun& Run() const { return run_; }

  // The buttons: Enter presses the default one, "Programar" or, after a failure, "Reintentar".
  void ProgramClick();
  void SkipClick();
  void StopClick();

 protected:
  // A unit under way is not left half done: the box closes only between units.
  void reject() override;

 private:
  void ShowState();
  void ShowRow(std::size_t item);

  std::unique_ptr<Ui::TBatchForm> ui_;
  TBatchRun run_;
  TVerifyOne verify_;
  std::string port_;
  THistoryWriter* history_;
  bool busy_ = false;
};

}  // namespace vardelio
