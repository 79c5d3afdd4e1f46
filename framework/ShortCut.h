#pragma once
// Stored shortcut codes (modifier flags plus a virtual-key code) and Qt key sequences.

#include <QKeySequence>

namespace vardelio {

constexpr int kShortCutShift = 0x2000;
constexpr int kShortCutCtrl = 0x4000;
constexpr int kShortCutAlt = 0x8000;

// Letters, digits and F1..F12; any other code gives an empty sequence.
QKeySequence KeySequenceFromShortCut(int code);
// The inverse; 0 for a sequence that has no such code.
int ShortCutFromKeySequence(const QKeySequence& sequence);

}  // namespace vardelio
