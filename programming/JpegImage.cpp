#include "JpegImage.h"

#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace vardelio {
namespace {

// Shows its label's picture on the label's first paint, before the label paints itself.
class TPictureOnPaint : public QObject {
 public:
  TPictureOnPaint(QLabel* label, const QString& path) : QObject(label), path_(path) {
    label->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      ShowPicture(static_cast<QLabel*>(watched), path_);
      deleteLater();
    }
    return false;
  }

 private:
  QString path_;
};

struct TJpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->jump, 1);
}

// libjpeg would print to stderr; the program has no console output.
void OnJpegMessage(j_common_ptr) {}

struct TRgbPixels {
  unsigned char* data = nullptr;
  int width = 0;
  int height = 0;
};

// All libjpeg work happens here, in a frame that holds nothing a longjmp could leak
// or leave half-destroyed.
bool DecodeRgb(const unsigned char* bytes, unsigned long size, TRgbPixels* out) {
  jpeg_decompress_struct info;
  TJpegErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = OnJpegError;
  errors.manager.output_message = OnJpegMessage;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    std::free(out->data);
    out->data = nullptr;
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes, size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_calc_output_dimensions(&info);
  if (info.output_width > unsigned(kMaxJpegSide) || info.output_height > unsigned(kMaxJpegSide)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_start_decompress(&info);
  const std::size_t stride = std::size_t(info.output_width) * 3;
  out->data = static_cast<unsigned char*>(std::malloc(stride * info.output_height));
  if (out->data == nullptr) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out->data + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  // libjpeg only warns about a truncated or damaged stream and fills in grey.
  const bool damaged = errors.manager.num_warnings != 0;
  out->width = int(info.output_width);
  out->height = int(info.output_height);
  jpeg_destroy_decompress(&info);
  if (damaged) {
    std::free(out->data);
    out->data = nullptr;
  }
  return !damaged;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return {};
  TRgbPixels pixels;
  if (!DecodeRgb(reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()), &pixels)) {
    return {};
  }
  QImage image(pixels.width, pixels.height, QImage::Format_RGB888);
  if (!image.isNull()) {
    const std::size_t stride = std::size_t(pixels.width) * 3;
    for (int y = 0; y < pixels.height; ++y) {
      std::memcpy(image.scanLine(y), pixels.data + stride * std::size_t(y), stride);
    }
  }
  std::free(pixels.data);
  return image;
}

QImage LoadJpeg(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return DecodeJpeg(file.readAll());
}

void ShowPicture(QLabel* label, const QString& path) {
  const QImage image = LoadJpeg(path);
  if (image.isNull()) {
    label->clear();
    return;
  }
  label->setPixmap(QPixmap::fromImage(image));
}

void ShowPictureWhenPainted(QLabel* label, const QString& path) {
  new TPictureOnPaint(label, path);
}

}  // namespace vardelio
