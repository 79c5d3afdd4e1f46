#pragma once
// The about box: product, version and maker; created once and shown modally on request.

#include <QDialog>
#include <memory>

namespace Ui {
class TAboutForm;
}

namespace vardelio {

class TAboutForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget* parent = nullptr);
  ~TAboutForm() override;

 protected:
  // Only OK, Enter and the close box close the box; Escape does not.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::unique_ptr<Ui::TAboutForm> ui_;
};

}  // namespace vardelio
