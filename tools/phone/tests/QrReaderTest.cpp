// The pairing QR code read back from a picture of it.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include "QrImage.h"
#include "QrReader.h"

TEST(QrReaderTest, APictureOfThePairingCodeGivesBackItsText) {
  const QString text =
      QStringLiteral("192.168.1.20,10.0.0.7:2021:0123456789abcdef0123456789abcdef");
  const QImage code = qr::qrImage(text);
  ASSERT_FALSE(code.isNull());
  // As a screen shows it: several pixels per module.
  const QImage shown = code.scaled(code.size() * 6, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  EXPECT_EQ(QrReader::read(shown), text);

  // From a file, one pixel per module as the code is made.
  QTemporaryDir dir;
  ASSERT_TRUE(code.save(dir.filePath("code.png")));
  QString error;
  EXPECT_EQ(QrReader::readFile(dir.filePath("code.png"), &error), text);
  EXPECT_TRUE(error.isEmpty());

  // A picture without a code, and a file that is no picture.
  QImage blank(400, 400, QImage::Format_RGB32);
  blank.fill(Qt::white);
  ASSERT_TRUE(blank.save(dir.filePath("blank.png")));
  EXPECT_TRUE(QrReader::readFile(dir.filePath("blank.png"), &error).isEmpty());
  EXPECT_EQ(error, QStringLiteral("图片中没有找到二维码"));
  EXPECT_TRUE(QrReader::readFile(dir.filePath("missing.png"), &error).isEmpty());
  EXPECT_EQ(error, QStringLiteral("无法打开这张图片"));
}
