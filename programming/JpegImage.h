#pragma once
// Decodes the program's JPEG pictures with libjpeg; what cannot be decoded gives a null image.

#include <QByteArray>
#include <QImage>
#include <QString>

class QLabel;

namespace vardelio {

// Larger pictures are refused rather than allocated.
inline constexpr int kMaxJpegSide = 4096;

// A damaged stream (even one libjpeg would only warn about) gives a null image.
QImage DecodeJpeg(const QByteArray& data);
// From a file or a ":/" resource.
QImage LoadJpeg(const QString& path);
// Shows the picture, or leaves the label empty when it cannot be loaded.
void ShowPicture(QLabel* label, const QString& path);
// The same, decoded when the label is first painted: a window's pictures then cost its start
// nothing before it appears.
void ShowPictureWhenPainted(QLabel* label, const QString& path);

}  // namespace vardelio
