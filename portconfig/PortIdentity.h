#pragma once
// Which device a port name leads to, and for a USB adapter its maker, model and serial number.

#include <QString>
#include <string>

namespace vardelio {

struct TPortIdentity {
  QString device;  // the kernel's name (ttyUSB0), after links such as /dev/serial/by-id
  QString maker, model, serial;  // empty for a port that is not on USB, or not told
};

// Read from sysfs (SetSysfsRoot); a port that does not exist gives its name alone.
TPortIdentity ReadPortIdentity(const std::string& portName);
// The same for a tty by the kernel's name, as the port list holds it.
TPortIdentity ReadDeviceIdentity(const QString& device);

// "FT232R USB UART (A1B2C3)", or the maker when there is no model; empty when neither.
QString IdentityDescription(const TPortIdentity& identity);
// "ttyUSB0 — FT232R USB UART (A1B2C3)", or the bare name.
QString PortWithDescription(const TPortIdentity& identity);

// The kernel's name of a port name (ttyUSB0 for /dev/serial/by-id/… of that adapter).
QString PortDeviceName(const std::string& portName);

}  // namespace vardelio
