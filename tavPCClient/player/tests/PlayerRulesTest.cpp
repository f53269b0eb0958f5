// The playback window's arithmetic: which rendition plays, the time labels,
// where a click seeks to, the cache file names, and the share dialog's code.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "PlayerRules.h"
#include "QrImage.h"
#include "ShareLinkDialog.h"

namespace {

QString renditions(std::initializer_list<std::pair<const char*, const char*>> list,
                   const char* format = "mp4") {
  QJsonArray all;
  for (const auto& [definition, url] : list)
    all.append(QJsonObject{{"Format", format}, {"Definition", definition}, {"PlayURL", url}});
  return QString::fromUtf8(
      QJsonDocument(QJsonObject{{"PlayInfoList", QJsonObject{{"PlayInfo", all}}}}).toJson());
}

}  // namespace

TEST(PlayerRules, RenditionChoice) {
  using player::choosePlayUrl;
  EXPECT_EQ(choosePlayUrl(renditions({{"FD", "http://h/fd.mp4"}, {"LD", "http://h/ld.mp4"}})),
            "http://h/ld.mp4");
  // An FD after an LD does not replace it.
  EXPECT_EQ(choosePlayUrl(renditions({{"LD", "http://h/ld.mp4"}, {"FD", "http://h/fd.mp4"}})),
            "http://h/ld.mp4");
  EXPECT_EQ(choosePlayUrl(renditions({{"FD", "http://h/fd.mp4"}})), "http://h/fd.mp4");
  // The first OD wins wherever it stands.
  EXPECT_EQ(choosePlayUrl(renditions({{"LD", "http://h/ld.mp4"},
                                      {"OD", "https://h/od1.mp4"},
                                      {"OD", "http://h/od2.mp4"},
                                      {"FD", "http://h/fd.mp4"}})),
            "https://h/od1.mp4");
  // Other formats and definitions do not count.
  EXPECT_EQ(choosePlayUrl(renditions({{"OD", "http://h/od.m3u8"}}, "m3u8")), QString());
  EXPECT_EQ(choosePlayUrl(renditions({{"HD", "http://h/hd.mp4"}})), QString());
  // Nothing to play from: not JSON, no list, or an address that is not the web's.
  EXPECT_EQ(choosePlayUrl(QStringLiteral("not json")), QString());
  EXPECT_EQ(choosePlayUrl(QStringLiteral("{}")), QString());
  EXPECT_EQ(choosePlayUrl(renditions({{"OD", "file:///etc/passwd"}})), QString());
}

TEST(PlayerRules, TimeLabels) {
  EXPECT_EQ(player::formatPlayTime(3725), "01:02:05");
  EXPECT_EQ(player::formatPlayTime(0), "00:00:00");
  EXPECT_EQ(player::formatPlayTime(59), "00:00:59");
  EXPECT_EQ(player::formatPlayTime(360000), "100:00:00");
  EXPECT_EQ(player::formatPlayTime(-3), "00:00:00");
}

TEST(PlayerRules, ClickOnTheBarSeeks) {
  using player::seekPercent;
  EXPECT_EQ(seekPercent(400, 400, 0, 90), 100);  // the right end
  EXPECT_EQ(seekPercent(470, 400, 0, 90), 100);  // past it: clamped
  EXPECT_EQ(seekPercent(-5, 400, 0, 90), 0);
  // value 45 of 90 -> 50 %; value 29.97 truncates to 29 -> 32 %.
  EXPECT_EQ(seekPercent(200, 400, 0, 90), 50);
  EXPECT_EQ(seekPercent(133, 400, 0, 90), 32);
  // Nothing known yet to seek in.
  EXPECT_EQ(seekPercent(200, 400, 0, 0), -1);
  EXPECT_EQ(seekPercent(200, 0, 0, 90), -1);
}

TEST(PlayerRules, CacheFilesStayInTheirFolder) {
  const QString folder = QStringLiteral("/data/video/1001/");
  EXPECT_EQ(player::cacheFileName(folder, QStringLiteral("勾股定理")), folder + "勾股定理.mp4");
  EXPECT_EQ(player::cacheFileName(folder, QStringLiteral("../../x")), folder + "___.._x.mp4");
  EXPECT_EQ(player::cacheFileName(folder, QStringLiteral("a/b\\c:d")), folder + "a_b_c_d.mp4");
  EXPECT_EQ(player::cacheFileName(folder, QStringLiteral(".hidden")), folder + "_hidden.mp4");
  EXPECT_EQ(player::cacheFileName(folder, QStringLiteral("line\nbreak")), folder + "line_break.mp4");
  EXPECT_EQ(player::cacheFileName(folder, QString()), folder + "_.mp4");
}

TEST(ShareLinkDialog, TheLinkBecomesAQrCode) {
  const QImage code = qr::qrImage(QStringLiteral("http://127.0.0.1:8080/tavolin/views/"
                                                              "tav-smallclass/index.html?roomId=1001"));
  ASSERT_FALSE(code.isNull());
  ASSERT_EQ(code.width(), code.height());
  // Modules = side - 8 quiet-zone modules: a valid QR size (21 + 4k).
  EXPECT_EQ((code.width() - 8 - 21) % 4, 0);
  // The finder pattern in the upper left: a dark 7x7 ring around a light one
  // around a dark 3x3 centre, with the quiet zone light.
  auto dark = [&](int x, int y) { return qGray(code.pixel(x + 4, y + 4)) < 128; };
  EXPECT_FALSE(qGray(code.pixel(0, 0)) < 128);
  for (int i = 0; i < 7; ++i) {
    EXPECT_TRUE(dark(i, 0) && dark(0, i) && dark(6, i) && dark(i, 6)) << i;
  }
  for (int i = 1; i < 6; ++i)
    EXPECT_FALSE(dark(i, 1) || dark(1, i)) << i;
  EXPECT_TRUE(dark(3, 3) && dark(2, 2) && dark(4, 4));
  EXPECT_TRUE(qr::qrImage(QString()).isNull());
}
