// The members tab: the member list grouped by role with every member's media
// state, the context menu, and the teacher's bulk buttons that open or close
// the ticked members' sound and video. It follows the session and asks
// MediaControl for every change.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include "MemberMenu.h"

class ClassroomContext;
class MediaControl;
class MemberListWidget;
class QLabel;
class QPushButton;
class QTimer;
class RoomSession;
struct RoomMember;

class MemberPanel : public QWidget, public MemberMenu {
  Q_OBJECT

public:
  static constexpr int kBulkButtonPauseMs = 2000;

  MemberPanel(ClassroomContext& context, MediaControl& control, QWidget* parent = nullptr);
  ~MemberPanel() override;

  // MemberMenu
  void addMenuFiller(QObject* owner, Filler filler) override;
  QList<quint32> tickedMembers() const override { return tickedInListOrder(); }
  void addBulkButton(QPushButton* button) override;

public slots:
  void btnOpenAllAudio_clicked();
  void btnOpenAllVideo_clicked();
  void btnCloseAllAudio_clicked();
  void btnCloseAllVideo_clicked();
  void setAllAudioBtnEnabled();
  void setAllVideoBtnEnabled();
  // The teacher clicked a raised hand: that member's camera and microphone
  // open and the hand goes down for everybody.
  void userItem_mouseUserhandClick(quint32 userId);

private:
  void showMember(quint32 userId);
  void showMemberMenu(quint32 userId, const QPoint& globalPos);
  void refreshRoles();
  QList<quint32> tickedInListOrder() const;
  void pauseAudioButtons();
  void pauseVideoButtons();

  struct MenuFiller {
    QPointer<QObject> owner;
    Filler fill;
  };
  QList<MenuFiller> fillers_;
  ClassroomContext& context_;
  RoomSession& session_;
  MediaControl& control_;
  MemberListWidget* list_ = nullptr;
  QLabel* handCount_ = nullptr;
  QWidget* bulkButtons_ = nullptr;
  QPushButton* openAllAudio_ = nullptr;
  QPushButton* closeAllAudio_ = nullptr;
  QPushButton* openAllVideo_ = nullptr;
  QPushButton* closeAllVideo_ = nullptr;
  QTimer* audioPause_ = nullptr;
  QTimer* videoPause_ = nullptr;
};
