// Which voice clips the login user has played: the local table voiceReaded
// (clip key, login user id) on the client's database, created when missing.
// The clip key is the clip file's base name, "-", the sender's user id.
#pragma once

#include <QString>

namespace VoiceReadStore {

QString clipKey(const QString& clipPath, quint32 senderId);
// false when there is no database or the write failed.
bool markRead(const QString& clipKey, quint32 loginUserId);
bool isRead(const QString& clipKey, quint32 loginUserId);

}  // namespace VoiceReadStore
