// One member's chat without a classroom window, for tests and benchmarks that
// need a second member in the same process: the room channel to the message
// server, the messenger, dispatch, session and context of its own, and a chat
// panel that sends as this member (its name, head picture and ticket).
#pragma once

#include <QObject>
#include <QWidget>
#include <memory>
#include <string>

#include "ChatPanel.h"
#include "ClassroomContext.h"
#include "ClassroomEntry.h"
#include "RoomContext.h"
#include "RoomDispatch.h"
#include "RoomMessenger.h"
#include "RoomSession.h"

class RoomChannelClient;

class ChatMember : public QObject {
  Q_OBJECT

public:
  struct Setup {
    quint32 userId = 0;
    int role = RoomContext::kStudent;
    quint32 ownerId = 0;
    quint32 roomId = 0;
    QString name;
    QString ticket;
    std::string credential;  // for the room channel
    QString msgHost;
    quint16 msgPort = 0;
    QString fileServer;  // "host:port"
    QString dataFolder;  // its own chat files (not the process's data folder)
  };

  explicit ChatMember(const Setup& setup);
  ~ChatMember() override;

  // The room channel is up.
  bool connected() const;
  ChatPanel& chat() { return *panel_; }
  RoomSession& session() { return *session_; }
  ClassroomContext& context() { return *context_; }
  QWidget& window() { return window_; }

private:
  ClassroomEntry entry_;
  RoomContext room_;
  std::unique_ptr<RoomSession> session_;
  std::unique_ptr<RoomMessenger> messenger_;
  std::unique_ptr<RoomDispatch> dispatch_;
  std::unique_ptr<ClassroomContext> context_;
  RoomChannelClient* channel_ = nullptr;
  QWidget window_;
  ChatPanel* panel_ = nullptr;
};
