#include "tray/program_icon.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QPixmap>

#include "tests/support/qt_environment.h"

namespace vestrel {
namespace {

class ProgramIconTest : public ::testing::Test {};

const QString kIcoFile = QStringLiteral(VESTREL_ICON_FILE);

TEST_F(ProgramIconTest, IcoHoldsNineSizesAt32Bits) {
  QImageReader reader(kIcoFile);
  ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
  QList<int> sizes;
  do {
    QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(image.width(), image.height());
    EXPECT_TRUE(image.hasAlphaChannel());
    sizes.append(image.width());
  } while (reader.jumpToNextImage());
  EXPECT_EQ(sizes, (QList<int>{256, 128, 96, 72, 64, 48, 32, 24, 16}));

  // The directory entries themselves say 32 bits per pixel.
  QFile file(kIcoFile);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray data = file.readAll();
  ASSERT_GE(data.size(), 6 + 9 * 16);
  EXPECT_EQ(static_cast<unsigned char>(data[4]), 9);
  for (int i = 0; i < 9; ++i) {
    const int entry = 6 + 16 * i;
    EXPECT_EQ(static_cast<unsigned char>(data[entry + 6]), 32) << "entry " << i;
  }
}

TEST_F(ProgramIconTest, IconIsNotEmptyAndOffersEverySize) {
  const QIcon icon = ProgramIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 24, 32, 48, 256}) {
    const QPixmap pixmap = icon.pixmap(size, size);
    EXPECT_EQ(pixmap.width(), size);
    // The picture is not blank: its centre column holds opaque pixels.
    const QImage image = pixmap.toImage();
    bool opaque = false;
    for (int y = 0; y < image.height(); ++y) opaque |= qAlpha(image.pixel(size / 2, y)) == 255;
    EXPECT_TRUE(opaque) << size;
  }
}

// The pictures made at build time are the .ico's, pixel for pixel, as a pixmap
// made from the decoded .ico shows them, and the icon offers them in its order.
TEST_F(ProgramIconTest, EverySizeShowsTheIcosPicture) {
  const QIcon icon = ProgramIcon();
  QImageReader reader(kIcoFile);
  QList<QSize> sizes;
  do {
    const QImage decoded = reader.read();
    ASSERT_FALSE(decoded.isNull());
    sizes.append(decoded.size());
    SCOPED_TRACE(decoded.width());
    const QImage expected = QPixmap::fromImage(decoded).toImage();
    const QImage shown = icon.pixmap(decoded.size()).toImage();
    ASSERT_EQ(shown.size(), expected.size());
    ASSERT_EQ(shown.format(), expected.format());
    EXPECT_EQ(shown, expected);
  } while (reader.jumpToNextImage());
  EXPECT_EQ(icon.availableSizes(), sizes);
}

}  // namespace
}  // namespace vestrel
