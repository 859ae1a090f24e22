#include "about/jpeg_image.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "tests/support/qt_environment.h"

namespace vestrel {

extern const unsigned char kAboutPicture[];
extern const std::size_t kAboutPictureSize;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Picture() {
  return Bytes(kAboutPicture, kAboutPicture + kAboutPictureSize);
}

TEST(AboutPicture, IsASmallBaselineJfifJpeg) {
  const Bytes p = Picture();
  EXPECT_GE(p.size(), 2000u);
  EXPECT_LE(p.size(), 3000u);
  ASSERT_GE(p.size(), 11u);
  EXPECT_EQ(p[0], 0xFF);
  EXPECT_EQ(p[1], 0xD8);
  EXPECT_EQ(p[2], 0xFF);
  EXPECT_EQ(p[3], 0xE0);  // APP0 first
  EXPECT_EQ(std::memcmp(&p[6], "JFIF\0", 5), 0);
  // The frame is SOF0 (baseline); no progressive or other frame kinds.
  bool baseline = false;
  for (std::size_t i = 2; i + 3 < p.size() && p[i] == 0xFF;) {
    const std::uint8_t marker = p[i + 1];
    if (marker == 0xC0) baseline = true;
    EXPECT_FALSE(marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xCC)
        << int(marker);
    if (marker == 0xDA) break;
    i += 2 + (p[i + 2] << 8 | p[i + 3]);
  }
  EXPECT_TRUE(baseline);
}

TEST(DecodeJpeg, AboutPictureSizeAndPixels) {
  const auto image = DecodeJpeg(Picture());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 71);
  EXPECT_EQ(image->height, 71);
  ASSERT_EQ(image->pixels.size(), 71u * 71u * 3u);
  auto pixel = [&](int x, int y) {
    const auto* p = &image->pixels[(y * 71 + x) * 3];
    return std::array<int, 3>{p[0], p[1], p[2]};
  };
  // Top-left: the light blue of the tile.
  const auto corner = pixel(1, 1);
  EXPECT_NEAR(corner[0], 0xE2, 12);
  EXPECT_NEAR(corner[1], 0xEF, 12);
  EXPECT_NEAR(corner[2], 0xF9, 12);
  // The bubble is green: green well above red and blue.
  const auto bubble = pixel(60, 15);
  EXPECT_GT(bubble[1], bubble[0] + 60);
  EXPECT_GT(bubble[1], bubble[2] + 30);
}

// Qt's own JPEG reader, as a second opinion on every pixel.
TEST(DecodeJpeg, AgreesWithAnotherDecoder) {
  const Bytes p = Picture();
  QByteArray data(reinterpret_cast<const char*>(p.data()), static_cast<qsizetype>(p.size()));
  QBuffer buffer(&data);
  QImageReader reader(&buffer, "jpeg");
  const QImage other = reader.read().convertToFormat(QImage::Format_RGB888);
  if (other.isNull())
    GTEST_SKIP() << "no JPEG reader in Qt: " << reader.errorString().toStdString();
  const auto image = DecodeJpeg(p);
  ASSERT_TRUE(image);
  ASSERT_EQ(other.size(), QSize(image->width, image->height));
  int worst = 0;
  for (int y = 0; y < other.height(); ++y) {
    const uchar* row = other.constScanLine(y);
    for (int x = 0; x < other.width() * 3; ++x)
      worst = std::max(worst, std::abs(row[x] - image->pixels[y * image->width * 3 + x]));
  }
  EXPECT_LE(worst, 3);
}

TEST(DecodeJpeg, CorruptDataShowsNothingAndNeverCrashes) {
  const Bytes p = Picture();
  EXPECT_FALSE(DecodeJpeg({}));
  EXPECT_FALSE(DecodeJpeg(Bytes{0xFF, 0xD8}));
  EXPECT_FALSE(DecodeJpeg(Bytes(100, 0x55)));
  // Cut short: libjpeg would pad with grey and warn; we take that as corrupt.
  EXPECT_FALSE(DecodeJpeg(Bytes(p.begin(), p.begin() + p.size() / 2)));
  EXPECT_FALSE(DecodeJpeg(Bytes(p.begin(), p.end() - 2)));
  // A frame of width zero.
  Bytes zero_width = p;
  for (std::size_t i = 2; i + 8 < zero_width.size();) {
    if (zero_width[i + 1] == 0xC0) {
      zero_width[i + 7] = 0;
      zero_width[i + 8] = 0;
      break;
    }
    i += 2 + (zero_width[i + 2] << 8 | zero_width[i + 3]);
  }
  EXPECT_FALSE(DecodeJpeg(zero_width));
  // A Huffman table that is not one.
  Bytes bad_table = p;
  for (std::size_t i = 2; i + 4 < bad_table.size();) {
    if (bad_table[i + 1] == 0xC4) {
      for (int k = 5; k < 21; ++k) bad_table[i + k] = 0xFF;
      break;
    }
    i += 2 + (bad_table[i + 2] << 8 | bad_table[i + 3]);
  }
  EXPECT_FALSE(DecodeJpeg(bad_table));

  // Random damage: whatever comes out, the call returns (and ASan stays quiet).
  std::mt19937 rng(2026);
  int decoded = 0;
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = p;
    for (int k = 0; k < 4; ++k) damaged[rng() % damaged.size()] = static_cast<std::uint8_t>(rng());
    const auto image = DecodeJpeg(damaged);
    if (image) {
      ++decoded;
      EXPECT_EQ(image->pixels.size(), std::size_t(image->width) * image->height * 3);
    }
  }
  RecordProperty("decoded_after_damage", decoded);
}

}  // namespace
}  // namespace vestrel
