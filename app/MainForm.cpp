#include "MainForm.h"

#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QTimer>

#include "EntryRules.h"
#include "JpegImage.h"
#include "framework/Dialogs.h"
#include "framework/EntryField.h"
#include "ui_MainForm.h"

namespace vardelio {
namespace {

constexpr int kSubscriberTypingLimit = 4;
constexpr int kPhoneTypingLimit = 31;
constexpr int kTimer1Interval = 1000;
constexpr QSize kClientArea(785, 518);
constexpr int kStatusBarTop = 496;

// Refused characters are discarded with the default beep.
void Filter(std::string_view allowed, QChar& key) {
  if (IsTypeable(allowed, key)) return;
  key = QChar();
  MessageBeep();
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::TForm1>()) {
  ui_->setupUi(this);
  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(kTimer1Interval);
  SetUpWindow();
  SetUpEntries();
  SetUpPictures();
  ConnectMenus();
}

TForm1::~TForm1() = default;

void TForm1::SetUpWindow() {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  // Labels size themselves to their text, so no font substitute can clip them.
  for (QLabel* label : {ui_->Label1, ui_->Label2, ui_->Label3, ui_->Label4})
    label->adjustSize();
  // The status bar runs along the bottom 22 pixels of the client area.
  ui_->ClientArea->setFixedSize(kClientArea.width(), kStatusBarTop);
  ui_->StatusBar1->setFixedHeight(kClientArea.height() - kStatusBarTop);
  // The window takes the size of its contents and cannot be resized.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TForm1::SetUpEntries() {
  const struct {
    QLineEdit* field;
    void (TForm1::*handler)(QObject*, QChar&);
    int limit;
  } entries[] = {{ui_->Edit1, &TForm1::Edit1KeyPress, kSubscriberTypingLimit},
                 {ui_->Edit2, &TForm1::Edit2KeyPress, kPhoneTypingLimit},
                 {ui_->Edit3, &TForm1::Edit3KeyPress, kPhoneTypingLimit}};
  for (const auto& entry : entries) {
    TEntryKeys& keys = EntryKeys(entry.field);
    keys.SetOnKeyPress(TKeyPressEvent(this, entry.handler));
    keys.SetTypingLimit(entry.limit);
    ShowInUpperCase(entry.field);
  }
}

void TForm1::SetUpPictures() {
  setWindowIcon(QIcon(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/art/icon.jpg")))));
  ShowPicture(ui_->Image1, QStringLiteral(":/art/logo.jpg"));
  ShowPicture(ui_->Image2, QStringLiteral(":/art/shield.jpg"));
  ShowPicture(ui_->Image3, QStringLiteral(":/art/cross.jpg"));
  ShowPicture(ui_->Image4, QStringLiteral(":/art/flame.jpg"));
}

void TForm1::ConnectMenus() {
  connect(ui_->Salir1, &QAction::triggered, this,
          [this] { RunReported([this] { Salir1Click(); }); });
  connect(ui_->Acerdade1, &QAction::triggered, this,
          [this] { RunReported([this] { Acerdade1Click(); }); });
}

void TForm1::Edit1KeyPress(QObject*, QChar& Key) {
  Filter(kSubscriberCharacters, Key);
}
void TForm1::Edit2KeyPress(QObject*, QChar& Key) {
  Filter(kPhoneCharacters, Key);
}
void TForm1::Edit3KeyPress(QObject*, QChar& Key) {
  Filter(kPhoneCharacters, Key);
}

void TForm1::Salir1Click() {
  close();
}

void TForm1::Acerdade1Click() {
  if (aboutBox_ != nullptr) aboutBox_->exec();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (std::exchange(shownOnce_, true)) return;
  CentreOnScreen();
}

void TForm1::CentreOnScreen() {
  if (QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

}  // namespace vardelio
