// A classroom with a whiteboard over a plain shared area, its media library
// and peer path recording, the class running.
#pragma once

#include <QJsonDocument>
#include <QLabel>
#include <QVector>
#include <functional>

#include "AnnotationControl.h"
#include "ClassroomRig.h"
#include "Prompt.h"
#include "RoomMessageTypes.h"
#include "SharedAreaView.h"
#include "VWPaintWidget.h"
#include "Whiteboard.h"

struct PlainArea : SharedAreaView {
  QLabel label;
  bool screen = false;
  PlainArea() { label.resize(800, 450); }
  QWidget* sharedArea() const override { return const_cast<QLabel*>(&label); }
  QRect pictureRect() const override { return label.rect(); }
  QPixmap shownPixmap() const override { return QPixmap(); }
  bool screenShareMode() const override { return screen; }
};

struct WhiteboardRig {
  static constexpr quint32 kTeacher = 10001;

  explicit WhiteboardRig(quint32 own = kTeacher) : rig(own, kTeacher) {
    rig.add(kTeacher, "老师", "王老师");
    for (quint32 id = 20002; id < 20006; ++id)
      rig.add(id, "学生");
    rig.session.setOwnRole(own == kTeacher ? RoomContext::kTeacher : RoomContext::kStudent,
                           false);
    rig.connectMedia();
    rig.context.provide<SharedAreaView>(&area);
    rig.session.classStarted(kTeacher);
    board = std::make_unique<Whiteboard>(rig.context, area);
  }
  ~WhiteboardRig() { board.reset(); }

  Whiteboard& wb() { return *board; }
  AnnotationControl& anno() { return *board->annotation(); }
  vw::VWPaintWidget& canvas() { return *board->canvas(); }

  // A board message from another member, as the media server hands it over.
  void receive(quint32 sender, QJsonObject msg) {
    if (!msg.contains(KEY_SEND_USER_ID))
      msg.insert(KEY_SEND_USER_ID, double(sender));
    rig.messenger.receivePeerMessage(sender, QJsonDocument(msg).toJson(QJsonDocument::Compact));
  }
  // What went out on the peer path since the last look: {target (0 = all), message}.
  struct Out {
    quint32 target;
    QJsonObject msg;
  };
  QVector<Out> takeSent() {
    QMutexLocker lock(&rig.peer.mutex);
    QVector<Out> out;
    for (const PeerSend& s : rig.peer.sent)
      out.append({s.all ? 0u : s.target, parsed(s.data)});
    rig.peer.sent.clear();
    return out;
  }
  QString toastOf(const std::function<void()>& step) {
    Prompt::instance()->setText(QString());
    step();
    return Prompt::instance()->text();
  }

  ClassroomRig rig;
  PlainArea area;
  std::unique_ptr<Whiteboard> board;
};

inline QJsonObject boardMsg(int typeId, QJsonValue content = QJsonValue()) {
  QJsonObject msg{{KEY_TYPE_ID, typeId}};
  if (!content.isNull())
    msg.insert(KEY_CONTENT, content);
  return msg;
}
