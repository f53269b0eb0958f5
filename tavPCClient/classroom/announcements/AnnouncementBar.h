// The room's latest announcement and the platform's bulletins as two running
// texts in the title bar: the announcement (or an invitation to publish one,
// which opens the announcement dialog), and the bulletins taking turns every
// ten seconds.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QWidget>

#include "ClassAnnouncementDialog.h"

class ClassroomContext;
class QLabel;
class QPushButton;
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
  void onGetBulletin(QJsonObject answer);
  void timerBulletin_timeout();
  void requestAnnouncement();
  void openDialog();

private:
  ClassroomContext& context_;
  QPushButton* announcement_;
  QLabel* bulletin_;
  QTimer* timer_;
  QString title_;
  QList<OverallAnnouncementContent> bulletins_;
  int shown_ = 0;
  QPointer<ClassAnnouncementDialog> dialog_;
};
