#include "PortIdentity.h"

#include <filesystem>
#include <fstream>

#include "PortList.h"
#include "serial/platform/PortName.h"

namespace vardelio {
namespace {

namespace fs = std::filesystem;

QString FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return QString::fromUtf8(line).trimmed();
}

// The USB device above the tty: its interface, then the device that carries idVendor.
fs::path UsbDeviceOf(const fs::path& ttyEntry, const fs::path& root) {
  std::error_code error;
  fs::path at = fs::canonical(ttyEntry / "device", error);
  if (error) return {};
  const fs::path top = fs::weakly_canonical(root, error);
  for (; !at.empty() && at != top && at.has_relative_path(); at = at.parent_path()) {
    if (fs::exists(at / "idVendor", error)) return at;
  }
  return {};
}

}  // namespace

QString PortDeviceName(const std::string& portName) {
  std::error_code error;
  const fs::path path = DevicePathForPort(portName);
  fs::path target = fs::canonical(path, error);
  if (error) target = path;
  // Under /dev as the kernel names it (ttyUSB0, pts/3); elsewhere its own name.
  const fs::path relative = target.lexically_relative("/dev");
  const bool underDev = !relative.empty() && *relative.begin() != "..";
  return QString::fromLocal8Bit(underDev ? relative.string() : target.filename().string());
}

TPortIdentity ReadPortIdentity(const std::string& portName) {
  return ReadDeviceIdentity(PortDeviceName(portName));
}

TPortIdentity ReadDeviceIdentity(const QString& device) {
  TPortIdentity identity;
  identity.device = device;
  const fs::path root = SysfsRoot();
  const fs::path usb = UsbDeviceOf(root / "class" / "tty" / identity.device.toStdString(), root);
  if (usb.empty()) return identity;
  identity.maker = FirstLine(usb / "manufacturer");
  identity.model = FirstLine(usb / "product");
  identity.serial = FirstLine(usb / "serial");
  return identity;
}

QString IdentityDescription(const TPortIdentity& identity) {
  QString text = identity.model.isEmpty() ? identity.maker : identity.model;
  if (!identity.serial.isEmpty())
    text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + "(" + identity.serial + ")";
  return text;
}

QString PortWithDescription(const TPortIdentity& identity) {
  const QString description = IdentityDescription(identity);
  return description.isEmpty() ? identity.device
                               : identity.device + QString::fromUtf8(" — ") + description;
}

}  // namespace vardelio
