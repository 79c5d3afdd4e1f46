#pragma once
// How the program names itself to the user and to the desktop.

namespace vardelio {

// The application title ("Vardelio", the caption of every message box), the desktop file name
// and the window's class, so that a task bar matches the window to its menu entry.
void NameProgram();

}  // namespace vardelio
