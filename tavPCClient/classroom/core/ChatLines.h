// The chat as other parts reach it to leave a line about what happened (a
// gift, a medal, a mute): offered by the chat tab.
#pragma once

#include <QJsonObject>
#include <QString>

class ChatLines {
public:
  virtual ~ChatLines() = default;
  // A line about an own action, shown in the own list only.
  virtual void addOwnLine(const QString& text) = 0;
  // A line about another member's action, shown as coming from the sender
  // whose keys (sendUserId, sendUsername, ...) message carries.
  virtual void addReceivedLine(const QJsonObject& message, const QString& text) = 0;
  // Sent to everybody as a text chat message and shown as own; false when it
  // could not be sent.
  virtual bool sendLine(const QString& text) = 0;
};
