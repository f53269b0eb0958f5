// What the shared area shows, as the phone link reads it: the share state a
// newcomer would get, the file on screen, and sharing a picture that came
// from the paired phone.
#pragma once

#include <QJsonObject>
#include <QString>

class SharedContent {
public:
  virtual ~SharedContent() = default;
  // The share state ("typeId" "72"); "fileType" "1" and "fileName"
  // "whitepaper" while nobody shares.
  virtual QJsonObject shareStateMessage() const = 0;
  // The file shown now (template, picture or page); empty when none.
  virtual QString shownFile() const = 0;
  // A picture from the phone, shared with the class like a chosen one.
  virtual void sharePhonePicture(const QString& path) = 0;
};
