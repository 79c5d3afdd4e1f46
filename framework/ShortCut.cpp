#include "ShortCut.h"

namespace vardelio {
namespace {

constexpr int kVkF1 = 0x70;
constexpr int kVkF12 = 0x7B;

int KeyFromVirtualKey(int vk) {
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return vk;  // same codes in Qt
  if (vk >= kVkF1 && vk <= kVkF12) return Qt::Key_F1 + (vk - kVkF1);
  return 0;
}

int VirtualKeyFromKey(int key) {
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return key;
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return kVkF1 + (key - Qt::Key_F1);
  return 0;
}

}  // namespace

QKeySequence KeySequenceFromShortCut(int code) {
  const int key = KeyFromVirtualKey(code & 0xFF);
  if (key == 0 || (code & ~0xE0FF) != 0) return {};
  Qt::KeyboardModifiers modifiers;
  if (code & kShortCutShift) modifiers |= Qt::ShiftModifier;
  if (code & kShortCutCtrl) modifiers |= Qt::ControlModifier;
  if (code & kShortCutAlt) modifiers |= Qt::AltModifier;
  return QKeySequence(QKeyCombination(modifiers, Qt::Key(key)));
}

int ShortCutFromKeySequence(const QKeySequence& sequence) {
  if (sequence.count() != 1) return 0;
  const QKeyCombination combination = sequence[0];
  const int vk = VirtualKeyFromKey(combination.key());
  if (vk == 0) return 0;
  const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
  int code = vk;
  if (modifiers & Qt::ShiftModifier) code |= kShortCutShift;
  if (modifiers & Qt::ControlModifier) code |= kShortCutCtrl;
  if (modifiers & Qt::AltModifier) code |= kShortCutAlt;
  return code;
}

}  // namespace vardelio
