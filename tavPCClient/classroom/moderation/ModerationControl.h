// The teacher's moderation: muting and restoring (ticked members in bulk, or
// one from the member menu), removing a member from the room, granting and
// revoking the assistant right, and awarding medals. Every action is recorded
// by the service first; only when it accepts is the room told, and most leave
// a chat line. The room's moderation messages are acted on here too: the own
// member muted, removed, made or unmade assistant; medals others award.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <functional>

class ClassroomContext;
class QAction;
class QActionGroup;
class QMenu;
class QPushButton;
class RoomSession;

class ModerationControl : public QObject {
  Q_OBJECT

public:
  explicit ModerationControl(ClassroomContext& context, QObject* parent = nullptr);

  // Tells the user something in a box, or asks (true: go on); tests replace them.

  // Fills a member's menu with what the own member may do to them.
  void fillMenu(QMenu& menu, quint32 userId);

signals:
  // The room's medal counts changed: the ranking should be asked again.
  void medalCountersOutdated();

public slots:
  void btnProhibitSpeak_clicked();
  void btnRestoreSpeak_clicked();
  void onProhibitSpeak(quint32 userId);
  void onProhibitSpeak_back(QJsonObject answer, quint32 userId);
  void onRestoreSpeak_back(QJsonObject answer, quint32 userId);
  void onKickedOutRoom(quint32 userId);
  void onKickedOut_back(QJsonObject answer, quint32 userId);
  void grantAssistant(quint32 userId, bool grant);
  void onGrantAdminBack(QJsonObject answer, quint32 userId);
  void onRevokeAdminBack(QJsonObject answer, quint32 userId);
  void onGetMedalTypeList(QJsonObject answer);
  void awardMedal(quint32 userId, int medalId, const QString& medalName);
  void onGrantMedalBack(QJsonObject answer, quint32 userId, const QString& medalName);
  void onModerationMessage(const QJsonObject& msg);

private:
  void blacklist(quint32 userId, int type, bool add);
  void sendAbout(int typeId, quint32 userId, const QString& content);
  void chatLine(const QString& text);

  ClassroomContext& context_;
  RoomSession& session_;
  QActionGroup* medals_;
};
