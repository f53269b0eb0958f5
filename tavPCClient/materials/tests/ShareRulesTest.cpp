// Preparing pictures for sharing and the arithmetic of rotation, pages and
// the visible part.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include "ShareRules.h"
#include "TestSupport.h"

namespace {

QString writePicture(const QString& folder, const QString& name, const QSize& size, const char* format) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(QColor(30, 120, 200));
  const QString path = folder + "/" + name;
  EXPECT_TRUE(image.save(path, format));
  return path;
}

}  // namespace

TEST(ShareRules, LargePicturesAreScaledInTheirFormatSmallOnesCopied) {
  testsupport::TempHome home;
  const QString out = home.home() + "/out";
  struct Case {
    QSize source;
    const char* format;
    QSize shared;
  } cases[] = {{{4000, 3000}, "jpg", {1920, 1440}},
               {{3000, 4000}, "png", {1080, 1440}},
               {{1921, 1080}, "png", {1920, 1079}}};
  for (const Case& c : cases) {
    const QString name = QStringLiteral("p%1x%2.%3").arg(c.source.width()).arg(c.source.height()).arg(c.format);
    const QString source = writePicture(home.home(), name, c.source, c.format);
    const QString shared = share::preparePicture(source, out, "s_" + name);
    ASSERT_FALSE(shared.isEmpty()) << name.toStdString();
    QImageReader reader(shared);
    EXPECT_EQ(reader.format(), QByteArray(c.format == QByteArray("jpg") ? "jpeg" : c.format));
    EXPECT_EQ(reader.size(), c.shared) << name.toStdString();
  }

  // Within 1920x1080 the file is the very same bytes.
  const QString exact = writePicture(home.home(), "exact.png", {1920, 1080}, "png");
  const QString copied = share::preparePicture(exact, out, "copy.png");
  QFile a(exact), b(copied);
  ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
  EXPECT_EQ(a.readAll(), b.readAll());

  // Not a picture: nothing is written.
  QFile junk(home.home() + "/junk.png");
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not a picture");
  junk.close();
  EXPECT_TRUE(share::preparePicture(junk.fileName(), out, "junk.png").isEmpty());
  EXPECT_FALSE(QFile::exists(out + "/junk.png"));
}

TEST(ShareRules, NamesRotationAndPages) {
  const QDateTime at(QDate(2024, 3, 5), QTime(8, 9, 10, 123));
  EXPECT_EQ(share::sharedPictureName(1234, at, "/home/u/照片 1.JPG"), "123420240305080910123.JPG");
  EXPECT_EQ(share::templatePaths().size(), 6);
  EXPECT_EQ(share::templatePaths().at(1), "./wbtemplete/charactergrid.png");

  int angle = 0;
  for (int i = 0; i < 4; ++i)
    angle = share::rotatedForward(angle);
  EXPECT_EQ(angle, 0);
  EXPECT_EQ(share::rotatedBack(0), 270);
  EXPECT_EQ(share::rotatedBack(90), 0);

  EXPECT_EQ(share::nextPage(3, 5).page, 4);
  EXPECT_TRUE(share::nextPage(3, 5).send);
  EXPECT_FALSE(share::nextPage(5, 5).send);
  EXPECT_EQ(share::nextPage(5, 5).page, 5);
  EXPECT_FALSE(share::previousPage(1).send);
  EXPECT_EQ(share::previousPage(1).page, 1);
  EXPECT_EQ(share::goToPage(0, 5).page, 1);
  EXPECT_TRUE(share::goToPage(4, 5).send);
  EXPECT_FALSE(share::goToPage(5, 5).send);
  EXPECT_EQ(share::goToPage(5, 5).page, 5);
  EXPECT_FALSE(share::goToPage(-3, 5).send);
}

TEST(ShareRules, TheVisiblePartStaysInsideThePicture) {
  const QSize picture(1920, 1440);
  const QRect visible = share::visibleRect(picture, {800, 600});
  EXPECT_EQ(visible, QRect(0, 0, 800, 600));
  // A smaller picture is seen whole.
  EXPECT_EQ(share::visibleRect({300, 200}, {800, 600}), QRect(0, 0, 300, 200));
  // A start beyond the edge is pulled back in.
  EXPECT_EQ(share::visibleRect(picture, {800, 600}, {1500, 1000}), QRect(1120, 840, 800, 600));

  // Dragging the picture left shows more of its right side.
  EXPECT_EQ(share::dragged(visible, -100, -50, picture), QRect(100, 50, 800, 600));
  // A move that would leave the picture changes nothing.
  EXPECT_FALSE(share::dragged(visible, 10, 0, picture));
  EXPECT_FALSE(share::dragged(QRect(1120, 0, 800, 600), -1, 0, picture));
  EXPECT_TRUE(share::dragged(QRect(1119, 0, 800, 600), -1, 0, picture));

  const QRect r(5, 6, 70, 80);
  EXPECT_EQ(share::rectOf(QJsonObject{{"rect", share::rectJson(r)}}), r);
  EXPECT_EQ(share::rectOf(QJsonObject{{"x", "5"}, {"y", 6}, {"width", 70}, {"height", 80}}), r);
  EXPECT_EQ(share::rectOf(QJsonObject{{"rect", QJsonObject{{"width", -9}}}}).width(), 0);
}
