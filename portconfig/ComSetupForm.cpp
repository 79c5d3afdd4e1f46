#include "ComSetupForm.h"

#include <unistd.h>

#include <QAbstractItemView>
#include <QGroupBox>
#include <QStyleFactory>
#include <algorithm>

#include "ComComboBox.h"
#include "DeviceWatch.h"
#include "PortList.h"
#include "framework/Dialogs.h"
#include "i18n/TranslationEngine.h"
#include "serial/ComPort.h"
#include "ui_ComSetupForm.h"

namespace vardelio {
namespace {

// The form places the first row of boxes where a frame drawn below the title (as Fusion
// draws it) would cross them: the group box keeps the classic look, its frame line through
// the middle of its title. Its children keep the program's style.
void DrawFrameThroughTitle(QGroupBox* group) {
  QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"));
  if (classic == nullptr) return;
  classic->setParent(group->window());
  group->setStyle(classic);
}

void ApplyAll(TComSetupFrm& dialog, TCustomComPort& port) {
  port.BeginBatch();
  try {
    for (TComComboBox* combo : dialog.Combos())
      combo->ApplyToPort();
  } catch (...) {
    try {
      port.EndBatch();
    } catch (...) {
      // The first failure is the one to tell.
    }
    throw;
  }
  port.EndBatch();
}

}  // namespace

TComSetupFrm::TComSetupFrm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TComSetupFrm>()) {
  ui_->setupUi(this);
  DrawFrameThroughTitle(ui_->GroupBox1);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  FormCreate();
  FollowPorts();
}

TComSetupFrm::~TComSetupFrm() = default;

void TComSetupFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(this);
}

std::array<TComComboBox*, 6> TComSetupFrm::Combos() const {
  return {ui_->Combo1, ui_->Combo2, ui_->Combo3, ui_->Combo4, ui_->Combo5, ui_->Combo6};
}

void TComSetupFrm::FormCreate() {
  // The lists hold the settings' own texts, the same in every language.
  TTranslationEngine& engine = DefaultEngine();
  for (TComComboBox* combo : Combos())
    engine.TP_Ignore(this, combo->objectName());
  engine.TranslateComponentTexts(this, "cport");
  MakeRoomForCaptions();
}

// Captions size themselves; when a translation is wider than the room before the boxes, the
// boxes move right and narrow by as much, so no caption is clipped.
void TComSetupFrm::MakeRoomForCaptions() {
  constexpr int kGap = 6;
  int widest = 0;
  for (QLabel* label :
       {ui_->Label1, ui_->Label2, ui_->Label3, ui_->Label4, ui_->Label5, ui_->Label6}) {
    label->adjustSize();
    widest = std::max(widest, label->geometry().right() + 1);
  }
  const int overlap = widest + kGap - ui_->Combo1->x();
  if (overlap <= 0) return;
  for (TComComboBox* combo : Combos())
    combo->setGeometry(combo->geometry().adjusted(overlap, 0, 0, 0));
}

void TComSetupFrm::FollowPorts() {
  TComComboBox* box = ui_->Combo1;
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0));
  auto* watch = new TDeviceWatch(this);
  watch->Watch(DevFolder());
  connect(watch, &TDeviceWatch::Changed, this, &TComSetupFrm::PortsChanged);
}

// sysfs may still show a port whose node is gone for a moment: only ports with a node count.
void TComSetupFrm::PortsChanged() {
  QStringList ports;
  try {
    ListSerialPorts(ports);
  } catch (const std::exception&) {
    return;  // the list shown stays
  }
  ports.removeIf([](const QString& name) {
    return access((DevFolder() + "/" + name.toStdString()).c_str(), F_OK) != 0;
  });
  ui_->Combo1->SetPortEntries(ports);
  ui_->Combo1->view()->setMinimumWidth(ui_->Combo1->view()->sizeHintForColumn(0));
}

void EditPortSettings(TCustomComPort& port) {
  TComSetupFrm dialog;  // gone on every way out
  for (TComComboBox* combo : dialog.Combos())
    combo->SetComPort(&port);
  if (dialog.exec() == QDialog::Accepted) ApplyAll(dialog, port);
}

void OpenSetupDialog(TCustomComPort& port) {
  EditPortSettings(port);
}

}  // namespace vardelio
