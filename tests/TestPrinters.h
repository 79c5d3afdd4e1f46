#pragma once
// Readable failure messages for Qt values in GoogleTest.

#include <QString>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
