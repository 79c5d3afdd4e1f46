#pragma once
// The sentences with which an operation on the unit ends, as the operator reads them.

#include <QString>

namespace vardelio::outcomes {

inline const QString kBadSubscriber = QStringLiteral("Los datos ingresados son incorrectos");
inline const QString kProgrammed = QStringLiteral("Programación Exitosa");
inline const QString kNotProgrammed =
    QStringLiteral("No se pudo programar, Por favor verifique el conexionado.");
inline const QString kNothingReceived = QStringLiteral(
    "No se puede leer la programación del equipo, por favor, verifique el conexionado.");
inline const QString kReceived = QStringLiteral("Programación Recibida");
inline const QString kReceiveError = QStringLiteral("Error en Recepcion");
inline const QString kTimeOver = QStringLiteral(
    "El Tiempo de programación ha finalizado, para continuar programando, por favor apague el "
    "Vardelio y vuelva a encenderlo.");
inline const QString kVerified = QStringLiteral("Programación Verificada");
inline const QString kNotVerified =
    QStringLiteral("La programación leída del equipo no coincide con la enviada:");

}  // namespace vardelio::outcomes
