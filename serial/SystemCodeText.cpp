#include "SystemCodeText.h"

#include <cerrno>
#include <cstring>

#include "ComError.h"

namespace vardelio {
namespace {

struct TExplanation {
  int code;
  const char* text;
};

// The codes an installer meets: those of the open (--help lists them) and those of an
// adapter pulled out while the program runs.
constexpr TExplanation kExplanations[] = {
    {ENOENT,
     "The port does not exist: the adapter is not plugged in, or the port's name is wrong. "
     "Plug the adapter in and check the port in Configuración → Configurar Puerto."},
    {ENXIO,
     "The port does not exist: the adapter is not plugged in, or the port's name is wrong. "
     "Plug the adapter in and check the port in Configuración → Configurar Puerto."},
    {ENODEV,
     "The port does not exist: the adapter is not plugged in, or the port's name is wrong. "
     "Plug the adapter in and check the port in Configuración → Configurar Puerto."},
    {EIO,
     "The port stopped answering: the adapter was probably pulled out or its cable is loose. "
     "Plug it in again, then start the program again, or turn on Configuración → Reconectar "
     "el puerto automáticamente."},
    {EBADF,
     "The port is not open: it could not be opened, or its adapter was pulled out. Plug the "
     "adapter in: with Configuración → Reconectar el puerto automáticamente on, the port opens "
     "again by itself; otherwise check the port in Configuración → Configurar Puerto and start "
     "the program again."},
    {EAGAIN,
     "The port is in use by another program (a terminal, a modem manager or a second "
     "programmer). Close that program and try again."},
    {EBUSY,
     "The port is in use by another program (a terminal, a modem manager or a second "
     "programmer). Close that program and try again."},
    {EACCES,
     "You may not use the port: your user is not in the group dialout yet. Run \"sudo usermod "
     "-aG dialout $USER\", then log out and in again."},
    {EPERM,
     "You may not use the port: your user is not in the group dialout yet. Run \"sudo usermod "
     "-aG dialout $USER\", then log out and in again."},
    {ENOTTY,
     "The name chosen is not a serial port. Choose the adapter's port in Configuración → "
     "Configurar Puerto."},
};

}  // namespace

QString SystemCodeExplanation(int systemCode) {
  for (const TExplanation& e : kExplanations)
    if (e.code == systemCode) return TranslatePortText(QString::fromUtf8(e.text));
  // strerror's own words, in English here: the program's locale for messages is C.
  return TranslatePortText(QStringLiteral("The system reported: %1."))
      .arg(QString::fromLocal8Bit(strerror(systemCode)));
}

QString ExplainPortError(const std::exception& error) {
  const auto* port = dynamic_cast<const EComPort*>(&error);
  if (port == nullptr || port->SystemCode() == kNoSystemCode) return {};
  return SystemCodeExplanation(port->SystemCode());
}

}  // namespace vardelio
