// The classroom's courseware playback: offers CoursewarePlayer to the
// courseware list and opens one playback window for it. A second courseware
// asked for while the window is open plays in the same window. The window
// closes when the member leaves.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

#include "ClassroomComponent.h"
#include "CoursewarePlayDialog.h"
#include "CoursewarePlayer.h"

class ClassroomContext;

class CoursewarePlayback : public QObject, public CoursewarePlayer, public ClassroomComponent {
  Q_OBJECT

public:
  explicit CoursewarePlayback(ClassroomContext& context, QObject* parent = nullptr);
  ~CoursewarePlayback() override;

  // The link shared from the window: the room's page on the service's site.
  static QString roomLink(quint32 roomId);

  void playCourseware(const QJsonObject& record) override;
  void leaving() override;

  CoursewarePlayDialog* dialog() const { return dialog_; }
  // Applied to every window opened (tests).
  void setPlayerFactory(CoursewarePlayDialog::PlayerFactory factory) { factory_ = std::move(factory); }

signals:
  // Every courseware asked to play, whether its window opens or was open.
  void playRequested(int coursewareId);
  void dialogOpened(CoursewarePlayDialog* dialog);

private:
  ClassroomContext& context_;
  QPointer<CoursewarePlayDialog> dialog_;
  CoursewarePlayDialog::PlayerFactory factory_;
};
