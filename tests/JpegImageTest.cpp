#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <random>

#include "programming/JpegImage.h"

using namespace vardelio;

namespace {

QByteArray Resource(const char* name) {
  QFile file(QStringLiteral(":/art/") + QLatin1String(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(Jpeg, EveryPictureOfTheProgramDecodesAtItsSize) {
  const struct {
    const char* name;
    QSize size;
  } pictures[] = {{"icon.jpg", {32, 32}},  {"logo.jpg", {153, 49}}, {"shield.jpg", {41, 41}},
                  {"cross.jpg", {41, 41}}, {"flame.jpg", {41, 41}}, {"emblem.jpg", {81, 65}}};
  for (const auto& p : pictures) {
    const QImage image = DecodeJpeg(Resource(p.name));
    ASSERT_FALSE(image.isNull()) << p.name;
    EXPECT_EQ(image.size(), p.size) << p.name;
  }
}

TEST(Jpeg, DamagedDataGivesANullImage) {
  const QByteArray good = Resource("logo.jpg");
  ASSERT_FALSE(good.isEmpty());
  const QByteArray cases[] = {
      {},
      QByteArray("not a picture at all"),
      good.left(2),                          // only the start marker
      good.left(good.size() / 2),            // cut in the middle of the scan
      QByteArray(good).replace(0, 2, "XX"),  // no start marker
  };
  for (const QByteArray& data : cases)
    EXPECT_TRUE(DecodeJpeg(data).isNull()) << data.size();
}

// Damage anywhere decodes to the right size or to nothing, never a crash.
TEST(Jpeg, RandomDamageNeverCrashes) {
  const QByteArray good = Resource("cross.jpg");
  std::mt19937 random(99);
  for (int i = 0; i < 300; ++i) {
    QByteArray damaged = good;
    for (int k = 0; k < 3; ++k)
      damaged[int(random() % damaged.size())] = char(random());
    const QImage image = DecodeJpeg(damaged);
    if (!image.isNull()) {
      EXPECT_LE(image.width() * image.height(), 4096 * 4096);
    }
  }
}

TEST(Jpeg, AMissingPictureLeavesTheControlEmpty) {
  QLabel label;
  ShowPicture(&label, QStringLiteral(":/art/no-such-picture.jpg"));
  EXPECT_TRUE(label.pixmap().isNull());
  ShowPicture(&label, QStringLiteral(":/art/shield.jpg"));
  EXPECT_EQ(label.pixmap().size(), QSize(41, 41));
}

// Decoded on the first paint, a picture is painted as one decoded at once: the window's
// pictures, scaled and not, and a missing one.
TEST(Jpeg, APictureDecodedWhenPaintedLooksTheSame) {
  const struct {
    const char* path;
    QSize size;
    bool scaled;
  } rows[] = {{":/art/logo.jpg", {153, 49}, false},  {":/art/shield.jpg", {41, 41}, true},
              {":/art/cross.jpg", {41, 41}, true},   {":/art/flame.jpg", {41, 41}, true},
              {":/art/shield.jpg", {60, 30}, false}, {":/art/no-such-picture.jpg", {41, 41}, true}};
  for (const auto& row : rows) {
    QLabel atOnce, whenPainted;
    for (QLabel* label : {&atOnce, &whenPainted}) {
      label->resize(row.size);
      label->setScaledContents(row.scaled);
    }
    ShowPicture(&atOnce, QString::fromLatin1(row.path));
    ShowPictureWhenPainted(&whenPainted, QString::fromLatin1(row.path));
    EXPECT_TRUE(whenPainted.pixmap().isNull()) << row.path;  // nothing decoded yet
    EXPECT_EQ(whenPainted.grab().toImage(), atOnce.grab().toImage()) << row.path;
    EXPECT_EQ(whenPainted.pixmap().isNull(), atOnce.pixmap().isNull()) << row.path;
  }
}

}  // namespace
