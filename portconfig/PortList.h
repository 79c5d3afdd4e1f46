#pragma once
// The machine's serial ports, as the setup dialog lists them.

#include <QStringList>
#include <string>

namespace vardelio {

// Replaces `target` with the names of the machine's serial ports as users type them (ttyS0,
// ttyUSB0), sorted as text without regard to case in the user's locale: COM10 before COM2.
// Found in sysfs: entries of class/tty with a device behind them, less the serial-core
// ports with no hardware (type 0). No port is opened to probe it: opening raises DTR and
// resets some boards. Raises "Registry error" (23) with the system's code when the list
// cannot be read.
void ListSerialPorts(QStringList& target);

// Where sysfs lives: /sys unless set (tests build a tree of their own).
void SetSysfsRoot(const std::string& root);
const std::string& SysfsRoot();

}  // namespace vardelio
