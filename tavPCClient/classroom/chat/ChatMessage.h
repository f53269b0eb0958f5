// Chat room messages: the three kinds, the forms this client sends and the
// fields it reads from a message or a stored history record.
#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include "RoomMessage.h"

namespace chat {

// Kinds of chat entries inside the client.
enum Kind { kText = 1, kPicture = 2, kVoice = 3 };

// Room type "0" → text, "10" → picture, "20" → voice; 0 for anything else.
int kindOfTypeId(int typeId);

// Text broken into lines of 18 characters: a newline after each full chunk,
// none after the last one.
QString breakLines(const QString& text, int width = 18);

// "%1'%2\"": whole minutes and the remaining seconds.
QString clipLengthText(int seconds);

// "yyyyMMdd-hhmmsszzz_<user>": a clip's id from the moment it was sent.
QString voiceIdFor(const QDateTime& moment, quint32 userId);

// The three forms, with the sender's fields filled in.
QJsonObject textMessage(const roommsg::SenderFields& sender, const QString& text,
                        const QDateTime& now = QDateTime::currentDateTime());
QJsonObject pictureMessage(const roommsg::SenderFields& sender, const QString& fileName,
                           const QDateTime& now = QDateTime::currentDateTime());
QJsonObject voiceMessage(const roommsg::SenderFields& sender, const QString& fileName,
                         int seconds, const QDateTime& now = QDateTime::currentDateTime());

// One message or history record as the chat list reads it. Numbers may come as
// numbers or as decimal strings; anything of the wrong type reads as empty.
struct Entry {
  int kind = 0;  // 0: not a chat message
  qint64 id = 0;  // history record number, 0 for live messages
  quint32 senderId = 0;
  QString senderName;
  QString sendTime;
  QString senderImg;
  QString content;
  int senderRole = 0;
  int voiceSeconds = 0;

  static Entry fromJson(const QJsonObject& json);
};

// One answer of the chat history call: none at all (network), refused (code
// present and not 0, with the server's text), or its records, newest first.
struct HistoryAnswer {
  enum State { kNoAnswer, kRefused, kRecords };
  State state = kNoAnswer;
  QString message;
  QJsonArray records;
  bool hasNext = false;

  static HistoryAnswer read(const QJsonObject& answer);
};

// A file name another user sent is only ever a plain name: no folder parts,
// no leading dot, nothing the file system reads specially, at most 128
// characters. Anything else is refused before it becomes a path.
bool isSafeFileName(const QString& name);

}  // namespace chat
