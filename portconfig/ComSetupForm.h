#pragma once
// The port setup dialog: port, speed and framing of one port, applied together on OK.

#include <QDialog>
#include <array>
#include <memory>

namespace Ui {
class TComSetupFrm;
}

namespace vardelio {

class TComComboBox;
class TCustomComPort;

class TComSetupFrm : public QDialog {
  Q_OBJECT
 public:
  // Filling the port list may raise "Registry error"; no dialog is then made.
  explicit TComSetupFrm(QWidget* parent = nullptr);
  ~TComSetupFrm() override;

  // Combo1 .. Combo6: port, baud rate, data bits, stop bits, parity, flow control.
  std::array<TComComboBox*, 6> Combos() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void MakeRoomForCaptions();
  // The port box takes a typed name or path, and its list follows plugging and unplugging.
  void FollowPorts();
  void PortsChanged();

  std::unique_ptr<Ui::TComSetupFrm> ui_;
};

// Shows the dialog for the port, modally; on OK applies the six choices in one settings
// batch. Errors reach the caller after the batch has ended and the dialog is gone.
void EditPortSettings(TCustomComPort& port);
// The port's own way into its setup dialog.
void OpenSetupDialog(TCustomComPort& port);

}  // namespace vardelio
