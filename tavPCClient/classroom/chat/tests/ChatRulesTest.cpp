// The chat's pure rules: message forms and fields, line breaking, picture
// names, thumbnail sizes, what a picture file really is, the clips played.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include "ChatFiles.h"
#include "ChatMessage.h"
#include "VoiceReadStore.h"

namespace {

QByteArray be32(quint32 v) {
  QByteArray b(4, '\0');
  b[0] = char(v >> 24);
  b[1] = char(v >> 16);
  b[2] = char(v >> 8);
  b[3] = char(v);
  return b;
}

quint32 crc32(const QByteArray& data) {
  quint32 crc = 0xFFFFFFFFu;
  for (const char c : data) {
    crc ^= uchar(c);
    for (int k = 0; k < 8; ++k)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

QByteArray chunk(const QByteArray& type, const QByteArray& data) {
  const QByteArray body = type + data;
  return be32(quint32(data.size())) + body + be32(crc32(body));
}

// A PNG declaring width x height whose pixel data is a few bytes.
QByteArray pngHeader(quint32 width, quint32 height) {
  const QByteArray ihdr = be32(width) + be32(height) + QByteArray::fromHex("0802000000");
  return QByteArray::fromHex("89504e470d0a1a0a") + chunk("IHDR", ihdr) +
         chunk("IDAT", QByteArray::fromHex("789c0300000001")) + chunk("IEND", QByteArray());
}

void writeFile(const QString& path, const QByteArray& data) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(data);
}

}  // namespace

TEST(ChatRules, TextIsBrokenIntoLinesOf18WithoutATrailingNewline) {
  const QString s36(36, QLatin1Char('a'));
  EXPECT_EQ(chat::breakLines(s36).count(QLatin1Char('\n')), 1);
  EXPECT_FALSE(chat::breakLines(s36).endsWith(QLatin1Char('\n')));
  const QString s37 = s36 + QLatin1Char('b');
  EXPECT_EQ(chat::breakLines(s37).split(QLatin1Char('\n')),
            QStringList({QString(18, 'a'), QString(18, 'a'), QStringLiteral("b")}));
  EXPECT_EQ(chat::breakLines(QString(18, 'x')), QString(18, 'x'));
  EXPECT_EQ(chat::breakLines(QString()), QString());
}

TEST(ChatRules, MessageFormsCarryTheSenderAndTheirOwnKeys) {
  roommsg::SenderFields me{10003, QStringLiteral("小明"), QStringLiteral("avatar/user-3.bmp"), 2, 1001};
  const QDateTime at(QDate(2026, 12, 8), QTime(9, 5, 7, 42));
  const QJsonObject voice = chat::voiceMessage(me, QStringLiteral("20261208_090507042.qn"), 3, at);
  EXPECT_EQ(voice.value("typeId").toString(), QStringLiteral("20"));
  EXPECT_EQ(voice.value("voiceSeconds").toString(), QStringLiteral("3"));
  EXPECT_EQ(voice.value("voiceId").toString(), QStringLiteral("20261208-090507042_10003"));
  EXPECT_EQ(voice.value("msgSendTime").toString(), QStringLiteral("2026-12-08 09:05:07"));
  EXPECT_EQ(voice.value("sendUserId").toDouble(), 10003.0);
  EXPECT_EQ(voice.value("sendUserRole").toString(), QStringLiteral("2"));
  EXPECT_EQ(voice.value("roomId").toString(), QStringLiteral("1001"));
  EXPECT_FALSE(voice.contains("index"));
  EXPECT_EQ(chat::pictureMessage(me, QStringLiteral("a.png"), at).value("typeId").toString(),
            QStringLiteral("10"));
  EXPECT_EQ(chat::textMessage(me, QStringLiteral("hi"), at).value("content").toString(),
            QStringLiteral("hi"));
}

TEST(ChatRules, EntriesReadNumbersAsNumbersOrTextAndRefuseTheRest) {
  chat::Entry e = chat::Entry::fromJson(QJsonObject{{"typeId", "20"},
                                                    {"sendUserId", "10001"},
                                                    {"sendUserRole", 1},
                                                    {"id", 7},
                                                    {"voiceSeconds", "12"},
                                                    {"content", "x.qn"}});
  EXPECT_EQ(e.kind, chat::kVoice);
  EXPECT_EQ(e.senderId, 10001u);
  EXPECT_EQ(e.senderRole, 1);
  EXPECT_EQ(e.id, 7);
  EXPECT_EQ(e.voiceSeconds, 12);
  e = chat::Entry::fromJson(QJsonObject{{"typeId", 0},
                                        {"sendUserId", QJsonObject()},
                                        {"content", 5},
                                        {"id", -3}});
  EXPECT_EQ(e.kind, chat::kText);
  EXPECT_EQ(e.senderId, 0u);
  EXPECT_TRUE(e.content.isEmpty());
  EXPECT_EQ(e.id, 0);
  EXPECT_EQ(chat::Entry::fromJson(QJsonObject{{"typeId", "33"}}).kind, 0);
}

TEST(ChatRules, OnlyPlainFileNamesFromOthersBecomePaths) {
  EXPECT_TRUE(chat::isSafeFileName(QStringLiteral("20261208_090507042.png")));
  EXPECT_TRUE(chat::isSafeFileName(QStringLiteral("照片 1.jpg")));
  for (const char* bad : {"", "../x.png", "a/b.png", "a\\b.png", ".hidden", "c:x", "a\nb"})
    EXPECT_FALSE(chat::isSafeFileName(QString::fromUtf8(bad))) << bad;
  EXPECT_FALSE(chat::isSafeFileName(QString(129, 'a')));
}

TEST(ChatRules, ThumbnailNamesAndSizes) {
  EXPECT_EQ(chat::thumbnailName(QStringLiteral("20261208_1.png")), QStringLiteral("20261208_1_lite.png"));
  EXPECT_EQ(chat::thumbnailName(QStringLiteral("a.b.jpg")), QStringLiteral("a.b_lite.jpg"));
  EXPECT_EQ(chat::thumbnailName(QStringLiteral("noext")), QStringLiteral("noext_lite"));
  EXPECT_EQ(chat::thumbnailSize(QSize(100, 200)), QSize(90, 180));
  EXPECT_EQ(chat::thumbnailSize(QSize(200, 100)), QSize(160, 80));
  EXPECT_EQ(chat::thumbnailSize(QSize(900, 1600)), QSize(160, 284));  // exactly 9:16 is not taller
  EXPECT_EQ(chat::displaySize(QSize(90, 300)), QSize(90, 300));
  EXPECT_EQ(chat::displaySize(QSize(91, 91)), QSize(160, 160));
  EXPECT_EQ(chat::ownPictureName(QStringLiteral("/x/Photo.JPG"),
                                 QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6))),
            QStringLiteral("20260102_030405006.jpg"));
}

TEST(ChatRules, PicturesAreJudgedByTheirBytesBeforeDecoding) {
  QTemporaryDir dir;
  QImage image(40, 30, QImage::Format_RGB32);
  image.fill(Qt::red);
  // A JPEG named .png is renamed to .jpg; a PNG named .jpg to .png.
  ASSERT_TRUE(image.save(dir.filePath("a.png"), "JPEG"));
  const QString renamed = chat::normalisePictureSuffix(dir.filePath("a.png"));
  EXPECT_EQ(renamed, dir.filePath("a.jpg"));
  EXPECT_TRUE(QFile::exists(renamed));
  EXPECT_FALSE(QFile::exists(dir.filePath("a.png")));
  ASSERT_TRUE(image.save(dir.filePath("b.jpg"), "PNG"));
  EXPECT_EQ(chat::normalisePictureSuffix(dir.filePath("b.jpg")), dir.filePath("b.png"));
  ASSERT_TRUE(image.save(dir.filePath("c.jpeg"), "JPEG"));
  EXPECT_EQ(chat::normalisePictureSuffix(dir.filePath("c.jpeg")), dir.filePath("c.jpeg"));
  // A zip renamed .png is no picture.
  writeFile(dir.filePath("z.png"), QByteArray("PK\x03\x04 not a picture", 20));
  EXPECT_TRUE(chat::normalisePictureSuffix(dir.filePath("z.png")).isEmpty());
  EXPECT_FALSE(chat::checkedPictureSize(dir.filePath("z.png")).isValid());
  // A PNG declaring 30000 x 30000 is refused from its header alone.
  writeFile(dir.filePath("huge.png"), pngHeader(30000, 30000));
  EXPECT_FALSE(chat::checkedPictureSize(dir.filePath("huge.png")).isValid());
  writeFile(dir.filePath("fine.png"), pngHeader(1920, 1080));
  EXPECT_EQ(chat::checkedPictureSize(dir.filePath("fine.png")), QSize(1920, 1080));
}

TEST(ChatRules, PlayedClipsAreRememberedPerLoginUserWithTheirNamesBound) {
  QTemporaryDir dir;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(dir.filePath("t.db"));
    ASSERT_TRUE(db.open());
    const QString key = VoiceReadStore::clipKey(QStringLiteral("/x/it's'); drop table x;--.qn"), 10001);
    EXPECT_EQ(key, QStringLiteral("it's'); drop table x;---10001"));
    EXPECT_FALSE(VoiceReadStore::isRead(key, 10003));  // creates the missing table
    EXPECT_TRUE(db.tables().contains(QStringLiteral("voiceReaded")));
    EXPECT_TRUE(VoiceReadStore::markRead(key, 10003));
    EXPECT_TRUE(VoiceReadStore::markRead(key, 10003));  // replaced, not doubled
    EXPECT_TRUE(VoiceReadStore::isRead(key, 10003));
    EXPECT_FALSE(VoiceReadStore::isRead(key, 10004));
    db.close();
  }
  QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
}
