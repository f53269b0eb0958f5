// The room's latest announcement and the platform's bulletins as two running
// texts in the title bar (they run when they do not fit): the announcement
// (or an invitation to publish one), which opens the announcement dialog, and
// the bulletins taking turns every ten seconds. A new or deleted announcement
// is announced on the room channel, and every member reads the latest again.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QWidget>

#include "ClassAnnouncementDialog.h"

class ClassroomContext;
class MarqueeLabel;
class QTimer;

struct OverallAnnouncementContent {
  QString title;
  int id = 0;
};

class AnnouncementBar : public QWidget {
  Q_OBJECT

public:
  static constexpr int kBulletinPeriodMs = 10000;

  explicit AnnouncementBar(ClassroomContext& context, QWidget* parent = nullptr);

  QString announcementText() const;
  QString bulletinText() const;
  ClassAnnouncementDialog* dialog() const { return dialog_; }

public slots:
  void onInitAnnouncement(QJsonArray answer);
  // The latest announcement could not be read: the last one shown stays.
  void onAnnouncementFailed(const QJsonObject& answer);
  void onGetBulletin(QJsonObject answer);
  void timerBulletin_timeout();
  void requestAnnouncement();
  void openDialog();

private:
  ClassroomContext& context_;
  MarqueeLabel* announcement_;
  MarqueeLabel* bulletin_;
  QTimer* timer_;
  QString title_;
  QList<OverallAnnouncementContent> bulletins_;
  int shown_ = 0;
  QPointer<ClassAnnouncementDialog> dialog_;
};
