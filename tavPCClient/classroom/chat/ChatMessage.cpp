#include "ChatMessage.h"

#include <QJsonValue>

#include "RoomMessageTypes.h"

namespace chat {

int kindOfTypeId(int typeId) {
  switch (typeId) {
    case MSG_CHAT_TEXT:
      return kText;
    case MSG_CHAT_PICTURE:
      return kPicture;
    case MSG_CHAT_VOICE:
      return kVoice;
    default:
      return 0;
  }
}

QString breakLines(const QString& text, int width) {
  if (width <= 0 || text.size() <= width)
    return text;
  QString out;
  out.reserve(text.size() + text.size() / width);
  for (int at = 0; at < text.size(); at += width) {
    if (at > 0)
      out += QLatin1Char('\n');
    out += text.mid(at, width);
  }
  return out;
}

QString clipLengthText(int seconds) {
  if (seconds < 0)
    seconds = 0;
  return QStringLiteral("%1'%2\"").arg(seconds / 60).arg(seconds % 60);
}

QString voiceIdFor(const QDateTime& moment, quint32 userId) {
  return moment.toString(QStringLiteral("yyyyMMdd-hhmmsszzz")) + QLatin1Char('_') +
         QString::number(userId);
}

static QJsonObject chatMessage(int typeId, const roommsg::SenderFields& sender,
                               const QString& content, const QDateTime& now) {
  QJsonObject msg = roommsg::newMessage(typeId);
  roommsg::stampSender(msg, sender, now);
  msg.insert(QLatin1String(KEY_CONTENT), content);
  return msg;
}

QJsonObject textMessage(const roommsg::SenderFields& sender, const QString& text,
                        const QDateTime& now) {
  return chatMessage(MSG_CHAT_TEXT, sender, text, now);
}

QJsonObject pictureMessage(const roommsg::SenderFields& sender, const QString& fileName,
                           const QDateTime& now) {
  return chatMessage(MSG_CHAT_PICTURE, sender, fileName, now);
}

QJsonObject voiceMessage(const roommsg::SenderFields& sender, const QString& fileName,
                         int seconds, const QDateTime& now) {
  QJsonObject msg = chatMessage(MSG_CHAT_VOICE, sender, fileName, now);
  msg.insert(QStringLiteral("voiceSeconds"), QString::number(seconds));
  msg.insert(QStringLiteral("voiceId"), voiceIdFor(now, sender.userId));
  return msg;
}

// A number given as a JSON number or a decimal string; fallback otherwise.
static qint64 numberOf(const QJsonValue& value, qint64 fallback = 0) {
  if (value.isDouble()) {
    const double d = value.toDouble();
    if (d >= -9.0e15 && d <= 9.0e15)
      return static_cast<qint64>(d);
    return fallback;
  }
  if (value.isString()) {
    bool ok = false;
    const qint64 n = value.toString().trimmed().toLongLong(&ok);
    return ok ? n : fallback;
  }
  return fallback;
}

static QString textOf(const QJsonValue& value) {
  return value.isString() ? value.toString() : QString();
}

Entry Entry::fromJson(const QJsonObject& json) {
  Entry e;
  e.kind = kindOfTypeId(static_cast<int>(numberOf(json.value(QLatin1String(KEY_TYPE_ID)), -1)));
  const qint64 id = numberOf(json.value(QStringLiteral("id")));
  e.id = id > 0 ? id : 0;
  const qint64 sender = numberOf(json.value(QLatin1String(KEY_SEND_USER_ID)));
  e.senderId = sender > 0 && sender <= 0xFFFFFFFFLL ? static_cast<quint32>(sender) : 0;
  e.senderName = textOf(json.value(QLatin1String(KEY_SEND_USERNAME)));
  e.sendTime = textOf(json.value(QLatin1String(KEY_MSG_SEND_TIME)));
  e.senderImg = textOf(json.value(QLatin1String(KEY_SEND_USER_IMG)));
  e.content = textOf(json.value(QLatin1String(KEY_CONTENT)));
  const qint64 role = numberOf(json.value(QLatin1String(KEY_SEND_USER_ROLE)));
  e.senderRole = role >= 0 && role < 100 ? static_cast<int>(role) : 0;
  if (e.kind == kVoice) {
    const qint64 seconds = numberOf(json.value(QStringLiteral("voiceSeconds")));
    e.voiceSeconds = seconds > 0 && seconds < 100000 ? static_cast<int>(seconds) : 0;
  }
  return e;
}

HistoryAnswer HistoryAnswer::read(const QJsonObject& answer) {
  HistoryAnswer read;
  if (answer.isEmpty())
    return read;
  const QJsonValue code = answer.value(QStringLiteral("code"));
  if (!code.isUndefined() && !code.isNull() && code.toInt(-1) != 0) {
    read.state = kRefused;
    read.message = textOf(answer.value(QStringLiteral("msg")));
    return read;
  }
  read.state = kRecords;
  read.records = answer.value(QStringLiteral("result")).toArray();
  read.hasNext = answer.value(QStringLiteral("hasNext")).toBool();
  return read;
}

bool isSafeFileName(const QString& name) {
  if (name.isEmpty() || name.size() > 128 || name.startsWith(QLatin1Char('.')))
    return false;
  for (const QChar c : name) {
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') ||
        c.unicode() < 0x20 || c == QChar(0x7f))
      return false;
  }
  return true;
}

}  // namespace chat
