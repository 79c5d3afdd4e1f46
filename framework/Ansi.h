#pragma once
// Conversion between the window's text and the 8-bit Windows-1252 bytes of the line and files.

#include <QString>
#include <string>
#include <string_view>

namespace vardelio {

QString FromAnsi(std::string_view bytes);
// Characters with no Windows-1252 code become "?".
std::string ToAnsi(const QString& text);
// Whether the character has a Windows-1252 code of its own.
bool IsAnsi(QChar c);

}  // namespace vardelio
