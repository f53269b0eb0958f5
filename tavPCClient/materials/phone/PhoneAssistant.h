// The phone assistant as a part of the classroom: pairing (a server for the
// phone and the QR code that names it, with a secret only that code holds),
// what the phone sends (photos shared with the class, board strokes drawn as
// the own member's, room messages sent as the own member's, requests for the
// board), and what the phone is kept told (the shared content, the board,
// the own rights). Offers the link to the other parts while paired.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

#include "ClassroomComponent.h"
#include "PhoneLink.h"

class ClassroomContext;
class QRViewForm;
class SharingCliServer;
struct RoomContext;

class PhoneAssistant : public QObject, public ClassroomComponent, public PhoneLink {
  Q_OBJECT

public:
  explicit PhoneAssistant(ClassroomContext& context, QObject* parent = nullptr);
  ~PhoneAssistant() override;

  // The share-content menu's entry: pairs a phone (a new server, a new
  // secret, the QR form), while the class runs.
  void pair();
  // Ends the link (the classroom's stop and leaving).
  void closeLink();
  bool paired() const { return server_ != nullptr; }
  SharingCliServer* server() const { return server_.get(); }
  QRViewForm* form() const;
  // Where received files go and from which port pairing starts (tests).
  void setDataFolder(const QString& folder) { dataFolder_ = folder; }
  void setFirstPort(quint16 port) { firstPort_ = port; }
  // Files the phone sent; removed with the classroom.
  QStringList receivedFiles() const { return received_; }

  // The rights code the phone is told: 1 for the class owner (while the
  // class runs), the sharer or the teaching tool's holder, else 0; 2 more
  // with the board-writing right; and 1 becomes 5 while the canvas shows, 6
  // while it is hidden and the member does not share.
  static int rightsCode(const RoomContext& room, quint32 ownUserId, bool canvasShown);

  // PhoneLink
  void sendToPhone(const QJsonObject& msg) override;
  void sendShareControl(const QJsonObject& msg) override;
  void sendShownFile(const QString& path) override;

  // ClassroomComponent
  void classStopping() override;
  void leaving() override;

public slots:
  void SharingServerInfo(int type, QString content);
  void SharingClientConnect();

private:
  void sendRights();
  void fromPhoneRoom(const QJsonObject& msg);
  void onPhoneAssistantMessage(const QJsonObject& msg);

  ClassroomContext& context_;
  std::unique_ptr<SharingCliServer> server_;
  int generation_ = 0;
  bool phoneConnected_ = false;
  QPointer<QRViewForm> form_;
  QString dataFolder_;
  quint16 firstPort_;
  QStringList received_;
  int lastRights_ = -1;
};
