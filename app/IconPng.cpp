// Build-time helper: our JPEG icon as a square PNG of the given size, for the desktop.
//   vardelio-icon-png INPUT.jpg SIZE OUTPUT.png

#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "programming/JpegImage.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s INPUT.jpg SIZE OUTPUT.png\n", argv[0]);
    return 2;
  }
  const int size = std::atoi(argv[2]);
  const QImage icon = vardelio::LoadJpeg(QString::fromLocal8Bit(argv[1]));
  if (icon.isNull() || size <= 0) return 1;
  const QImage square = icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return square.save(QString::fromLocal8Bit(argv[3]), "PNG") ? 0 : 1;
}
