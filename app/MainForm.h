#pragma once
// The main window: the programming entries, the menus and the about box.

#include <QMainWindow>
#include <memory>

class QDialog;
class QTimer;

namespace Ui {
class TForm1;
}

namespace vardelio {

inline constexpr int kSalirShortCut = 32851;  // Alt+S

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Mode of the operation started last: 0 send, 1 receive.
  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  QTimer* Timer1() const { return timer1_; }
  void SetAboutBox(QDialog* aboutBox) { aboutBox_ = aboutBox; }

  void Edit1KeyPress(QObject* Sender, QChar& Key);
  void Edit2KeyPress(QObject* Sender, QChar& Key);
  void Edit3KeyPress(QObject* Sender, QChar& Key);
  void Salir1Click();
  void Acerdade1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetUpEntries();
  void SetUpPictures();
  void SetUpWindow();
  void ConnectMenus();
  void CentreOnScreen();

  std::unique_ptr<Ui::TForm1> ui_;
  QTimer* timer1_;
  QDialog* aboutBox_ = nullptr;
  int tag_ = 0;
  bool shownOnce_ = false;
};

}  // namespace vardelio
