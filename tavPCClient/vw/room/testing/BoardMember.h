// One member's whiteboard against a real media server, without the rest of a
// classroom window: its own room state, session, messenger, dispatch and
// context, a media library logged in with the given credential, and a
// Whiteboard over a plain shared area. For end-to-end tests and benchmarks
// that need several members in one process (the window keeps process-wide
// state and exists once).
#pragma once

#include <QLabel>
#include <QObject>
#include <memory>
#include <string>

#include "ClassroomContext.h"
#include "ClassroomEntry.h"
#include "MediaEventBridge.h"
#include "RoomContext.h"
#include "RoomDispatch.h"
#include "RoomMessenger.h"
#include "RoomPeerPath.h"
#include "RoomSession.h"
#include "SharedAreaView.h"
#include "Whiteboard.h"

class BoardMember : public QObject, public SharedAreaView {
  Q_OBJECT

public:
  // role: RoomContext's role code of the own member; ownerId: the room's owner.
  BoardMember(quint32 userId, int role, quint32 ownerId, quint32 roomId, quint16 mcuPort,
              const std::string& credential, QSize areaSize = QSize(800, 450));
  ~BoardMember() override;

  quint32 userId() const { return userId_; }
  bool connected() const { return context_->mcuConnected(); }
  RoomSession& session() { return *session_; }
  Whiteboard& whiteboard() { return *whiteboard_; }
  vw::VWPaintWidget& canvas() { return *whiteboard_->canvas(); }
  AnnotationControl& annotation() { return *whiteboard_->annotation(); }
  QLabel& area() { return area_; }
  Libpavo* media() const { return media_; }
  // The canonical digest of the board as it stands.
  QByteArray digest() const;

  // Starts the class as its owner would (the answer arrives later).
  void startClass();
  // Lists another member (for names in the request list).
  void addMember(quint32 userId, int role, const QString& name);

  // SharedAreaView
  QWidget* sharedArea() const override { return const_cast<QLabel*>(&area_); }
  QRect pictureRect() const override { return area_.rect(); }
  QPixmap shownPixmap() const override { return QPixmap(); }
  bool screenShareMode() const override { return false; }

private:
  void connectEvents();

  const quint32 userId_;
  ClassroomEntry entry_;
  RoomContext room_;
  std::unique_ptr<RoomSession> session_;
  std::unique_ptr<RoomMessenger> messenger_;
  std::unique_ptr<RoomDispatch> dispatch_;
  std::unique_ptr<ClassroomContext> context_;
  std::unique_ptr<MediaEventBridge> bridge_;
  QLabel area_;
  Libpavo* media_ = nullptr;
  std::unique_ptr<RoomPeerPath> peer_;
  std::unique_ptr<Whiteboard> whiteboard_;
};
