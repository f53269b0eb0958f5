// A member's whole classroom window in a process of its own, for end-to-end
// tests that need more than one window: it signs in with a demo account,
// enters the test room and reports what its user would see, one line each:
//   ready                          connected to the MCU and the room channel
//   effects N                      gift effects on the stage now
//   chat TEXT                      a chat item appeared
//   chat-by ID TEXT                the same, with its sender's id
//   board N DIGEST                 the whiteboard's shapes: how many, and their digest
//   input enabled|disabled         the chat input (a mute turns it off)
//   teacher-controls shown|hidden  the teacher's header controls
//   gift-answer TEXT               the toast after giving a gift
//   closed TOAST                   the window closed, and what was said
//   refused REASON                 the service did not let it in
//   balance MONEY                  the own balance as the service has it
//   shared MODE FILE PAGE ROT DISP WxH DIGEST  what the shared area shows: the
//                                  share state, the picture drawn and its pixels
//   documents NAME,NAME,...        the materials tab's documents
//   toast TEXT                     a toast was shown
//   announcement TITLE             the announcement label in the title bar
//   rating open|closed             the rating dialog after a class
//   player COURSEWARE_ID           a courseware was handed to the playback window
//   mcu up|down                    the media server connection
//   class running|stopped          whether the class runs, as the window shows it
//   main-video on|off              the main video shows a picture
//   tile ID on|off                 member ID's video tile shows a picture
//   audio ID on|off                member ID's sound is on (the teacher's and tiles')
//   boxes N                        message boxes open
//   media-retry N                  attempts so far to reach a lost media server
//   tool R,G,B red|clear           the teaching-tool view's picture: the colour a
//                                  quarter in from its top left (in steps of 32), and
//                                  whether its right half shows red (a stroke)
//   app-share on|off               the own member shares a program's window
//   stage waiting|picture|tool|app|video  what the teaching area shows
// Commands on standard input: "gift TARGET_ID COUNT BUTTON_INDEX", "balance",
// "watch COURSEWARE_ID" (watching it; a purchase asked for is made),
// "rate SCORE COMMENT" (the open rating dialog is filled in and submitted),
// "start-class" (the 上课 button), "open-video ID" (the member's camera, as the
// teacher's member menu opens it), "share-app TITLE" (the program's window of
// that title, as the application list gives it), "end-share", "annotate" (the
// board-writing toggle), "draw X,Y X,Y ..." (a stroke through those points of
// the board, 0..1, with the mouse).
//
// Usage: classroom-window-member ACCOUNT ROOM SERVICE_HOST:PORT MCU_PORT MSG_PORT
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QHash>
#include <QImage>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <utility>

#include "AnnouncementBar.h"
#include "AppShare.h"
#include "ChatMessageItem.h"
#include "ChatPanel.h"
#include "ClassEvaluation.h"
#include "ClassStage.h"
#include "Classroom.h"
#include "ClassroomEntryFor.h"
#include "CoursewareItem.h"
#include "CoursewareList.h"
#include "CoursewarePlayDialog.h"
#include "CoursewarePlayback.h"
#include "DataFolder.h"
#include "DocumentItem.h"
#include "DocumentList.h"
#include "GiftBar.h"
#include "GiftButton.h"
#include "GiftEffectArea.h"
#include "LocalConfig.h"
#include "LocalDatabase.h"
#include "MainVideoBox.h"
#include "MediaControl.h"
#include "PicRenderWidget.h"
#include "PixelDigest.h"
#include "PlayWnd.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "RoomChannelClient.h"
#include "RoomSession.h"
#include "SharedArea.h"
#include "SharedAreaLine.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"
#include "VideoGroup.h"
#include "VideoRenderWidget.h"

namespace {

void report(const QString& line) {
  const QByteArray text = line.toUtf8() + '\n';
  fwrite(text.constData(), 1, size_t(text.size()), stdout);
  fflush(stdout);
}

// What the window shows, reported when it changes.
class Watcher : public QObject {
public:
  explicit Watcher(Classroom* room) : room_(room) {
    if (auto* playback = room_ ? room_->findChild<CoursewarePlayback*>() : nullptr)
      connect(playback, &CoursewarePlayback::playRequested, this,
              [](int id) { report(QStringLiteral("player %1").arg(id)); });
    connect(&tick_, &QTimer::timeout, this, [this] { look(); });
    tick_.start(50);
    connect(&toolTick_, &QTimer::timeout, this, [this] { lookAtTool(); });
    toolTick_.start(5);
  }

  void gift(quint32 target, const QString& count, int buttonIndex) {
    auto* bar = room_ ? room_->findChild<GiftBar*>("giftBar") : nullptr;
    if (!bar || buttonIndex < 0 || buttonIndex >= bar->giftButtons().size()) {
      report(QStringLiteral("gift-answer no such gift"));
      return;
    }
    bar->giftButtons()[buttonIndex]->click();
    // The receiver is picked as the member menu's "赠送礼物" picks it.
    bar->onGiveGift(target);
    bar->findChild<QComboBox*>("cmbGiftCount")->setEditText(count);
    Prompt::instance()->setText(QString());
    waitingForGift_ = true;
    bar->btnSendGift_clicked();
  }

  void rate(int score, const QString& comment) {
    auto* evaluation = room_ ? room_->findChild<ClassEvaluation*>() : nullptr;
    EvaluateDialog* dialog = evaluation ? evaluation->dialog() : nullptr;
    if (!dialog) {
      report(QStringLiteral("toast no rating open"));
      return;
    }
    const char* buttons[] = {"btnVeryLow", "btnLow", "btnSomeSatisfied", "btnSatisfied",
                             "btnVerySatisfied"};
    const int index = score / 20 - 1;
    if (index >= 0 && index < 5)
      if (auto* button = dialog->findChild<QPushButton*>(buttons[index]))
        button->click();
    if (auto* text = dialog->findChild<QPlainTextEdit*>("evaluateComment"))
      text->setPlainText(comment);
    toast_.clear();
    Prompt::instance()->setText(QString());
    dialog->slot_ButtonSubmit();
  }

  void watch(int coursewareId) {
    auto* list = room_ ? room_->findChild<CoursewareList*>() : nullptr;
    if (!list)
      return;
    // The purchase dialog is answered as its user would: buy now.
    list->setDialogRunner([](QDialog& dialog) {
      if (auto* buy = dialog.findChild<QPushButton*>("btnBuy"))
        buy->click();
      QEventLoop wait;
      QObject::connect(&dialog, &QDialog::finished, &wait, &QEventLoop::quit);
      QTimer::singleShot(60000, &wait, &QEventLoop::quit);
      if (dialog.result() != QDialog::Accepted)
        wait.exec();
      report(QStringLiteral("bought ") + (dialog.result() == QDialog::Accepted ? "yes" : "no"));
      return dialog.result();
    });
    // What follows is told again even when it reads as a toast before.
    Prompt::instance()->setText(QString());
    toast_.clear();
    for (CoursewareItem* item : list->items())
      if (item->id() == coursewareId) {
        list->onWatchCourseware(item);
        return;
      }
    report(QStringLiteral("toast no such courseware"));
  }

  void startClass() {
    if (auto* start = room_ ? room_->findChild<QPushButton*>("btnStartClass") : nullptr)
      start->click();
  }

  // A teacher clicks a member's camera once the member is listed: held until then.
  void openVideo(quint32 userId) {
    pendingVideo_ = userId;
    openPendingVideo();
  }

  void openPendingVideo() {
    if (!pendingVideo_ || !room_)
      return;
    auto* session = room_->findChild<RoomSession*>();
    auto* control = room_->findChild<MediaControl*>();
    if (!session || !control || !session->member(pendingVideo_))
      return;
    control->onOperateVideo(std::exchange(pendingVideo_, 0));
  }

  void shareApp(const QString& title) {
    auto* share = room_ ? room_->findChild<AppShare*>() : nullptr;
    if (!share)
      return;
    for (const platform::DesktopWindow& w : platform::desktopWindows())
      if (QString::fromStdString(w.title) == title) {
        share->shareWindow(w);
        return;
      }
    report(QStringLiteral("toast no window ") + title);
  }

  void endShare() {
    if (auto* share = room_ ? room_->findChild<AppShare*>() : nullptr)
      share->endShare();
  }

  void annotate() {
    if (auto* toggle = room_ ? room_->findChild<QPushButton*>("btnAnnotation") : nullptr)
      toggle->click();
  }

  void draw(const QStringList& points) {
    auto* canvas = room_ ? room_->findChild<vw::VWPaintWidget*>("whiteboardCanvas") : nullptr;
    if (!canvas || points.size() < 2)
      return;
    auto at = [canvas](const QString& point) {
      const QStringList xy = point.split(QLatin1Char(','));
      return QPoint(int(xy.value(0).toDouble() * canvas->width()),
                    int(xy.value(1).toDouble() * canvas->height()));
    };
    auto send = [canvas](QEvent::Type type, QPoint p, Qt::MouseButton button,
                         Qt::MouseButtons held) {
      QMouseEvent event(type, p, canvas->mapToGlobal(p), button, held, Qt::NoModifier);
      QApplication::sendEvent(canvas, &event);
    };
    send(QEvent::MouseButtonPress, at(points.first()), Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i < points.size(); ++i)
      send(QEvent::MouseMove, at(points[i]), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, at(points.last()), Qt::LeftButton, Qt::NoButton);
  }

  // The teaching-tool view, looked at more often than the rest: how soon a
  // shared program's change shows is measured on it.
  void lookAtTool() {
    if (!room_)
      return;
    auto* view = room_->findChild<VideoRenderWidget*>("toolView");
    if (!view || view->heldFrame().isNull())
      return;
    const QImage& f = view->heldFrame();
    const QRgb c = f.pixel(f.width() / 4, f.height() / 4);
    auto step = [](int v) { return v / 32 * 32; };
    int red = 0;
    for (int y = 0; y < f.height(); y += 2)
      for (int x = f.width() / 2 + 4; x < f.width(); x += 2) {
        const QRgb p = f.pixel(x, y);
        red += qRed(p) > 170 && qGreen(p) < 90 && qBlue(p) < 90;
      }
    reportChange(tool_, QStringLiteral("tool %1,%2,%3 %4")
                            .arg(step(qRed(c)))
                            .arg(step(qGreen(c)))
                            .arg(step(qBlue(c)))
                            .arg(red >= 3 ? "red" : "clear"));
  }

private:
  // The media and connection state a member sees.
  void lookAtMedia() {
    reportChange(mcu_, QStringLiteral("mcu ") + (room_->mcuConnected() ? "up" : "down"));
    if (!retryTimer_)
      if ((retryTimer_ = room_->findChild<QTimer*>("mediaRetryTimer")))
        connect(retryTimer_, &QTimer::timeout, this,
                [this] { report(QStringLiteral("media-retry %1").arg(++retries_)); });
    RoomSession* session = room_->findChild<RoomSession*>();
    if (!session)
      return;
    reportChange(class_,
                 QStringLiteral("class ") + (session->classInProgress() ? "running" : "stopped"));
    if (auto* main = room_->findChild<MainVideoBox*>("mainVideoBox"))
      reportChange(mainVideo_, QStringLiteral("main-video ") +
                                   (main->renderWidget()->heldFrame().isNull() ? "off" : "on"));
    QList<quint32> heard{session->mainUserId()};
    QSet<quint32> shown;
    for (VideoGroup* group : room_->findChildren<VideoGroup*>()) {
      for (PlayWnd* tile : group->findChildren<PlayWnd*>()) {
        const quint32 id = tile->userId();
        if (id == 0 || group->tile(id) != tile)
          continue;
        heard << id;
        shown << id;
        const bool on = !tile->renderWidget()->heldFrame().isNull();
        reportChange(tiles_[id], QStringLiteral("tile %1 %2").arg(id).arg(on ? "on" : "off"));
      }
    }
    for (auto it = tiles_.begin(); it != tiles_.end(); ++it)  // a tile gone shows nothing
      if (!shown.contains(it.key()))
        reportChange(it.value(), QStringLiteral("tile %1 off").arg(it.key()));
    for (quint32 id : heard)
      if (id != 0 && id != session->ownUserId())
        reportChange(audio_[id], QStringLiteral("audio %1 %2")
                                     .arg(id)
                                     .arg(session->isOn(id, RoomSession::kAudio) ? "on" : "off"));
    int boxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QNMessageBox*>(w) && w->isVisible())
        ++boxes;
    reportChange(boxes_, QStringLiteral("boxes %1").arg(boxes));
  }

  template <typename T>
  void changed(T& seen, const T& now, const QString& line) {
    if (seen == now)
      return;
    seen = now;
    report(line);
  }
  // A state reported by its line: again only when the line differs.
  void reportChange(QString& seen, const QString& line) {
    if (seen == line)
      return;
    seen = line;
    report(line);
  }

  void look() {
    if (!room_) {
      report(QStringLiteral("closed ") + Prompt::instance()->text());
      tick_.stop();
      QCoreApplication::exit(0);
      return;
    }
    auto* channel = room_->findChild<RoomChannelClient*>("roomChannel");
    if (!ready_ && room_->mcuConnected() && channel && channel->hasClient()) {
      ready_ = true;
      report(QStringLiteral("ready"));
    }
    lookAtMedia();
    openPendingVideo();
    if (auto* area = room_->findChild<GiftEffectArea*>())
      changed(effects_, area->visibleCount(),
              QStringLiteral("effects %1").arg(area->visibleCount()));
    if (auto* chat = room_->findChild<ChatPanel*>("chatPanel")) {
      const QList<ChatMessageItem*> items = chat->shownItems();
      for (int i = chatSeen_; i < items.size(); ++i) {
        report(QStringLiteral("chat ") + items[i]->entry().content);
        report(QStringLiteral("chat-by %1 %2")
                   .arg(items[i]->entry().senderId)
                   .arg(items[i]->entry().content));
      }
      chatSeen_ = items.size();
    }
    if (auto* input = room_->findChild<QWidget*>("chatEdit")) {
      const int enabled = input->isEnabled() ? 1 : 0;
      changed(inputEnabled_, enabled,
              QStringLiteral("input ") + (enabled ? "enabled" : "disabled"));
    }
    if (auto* controls = room_->findChild<QWidget*>("teacherControls")) {
      const int shown = controls->isVisibleTo(room_) ? 1 : 0;
      changed(teacherControls_, shown,
              QStringLiteral("teacher-controls ") + (shown ? "shown" : "hidden"));
    }
    if (const SharedArea* shared = room_->findChild<SharedArea*>())
      reportChange(shared_, testsupport::sharedAreaLine(*shared));
    if (auto* canvas = room_->findChild<vw::VWPaintWidget*>("whiteboardCanvas"))
      reportChange(board_,
                   QStringLiteral("board %1 %2")
                       .arg(canvas->shapeList().size())
                       .arg(QString::fromLatin1(vw::VWShapeDigest::digest(canvas->shapeList()))));
    if (auto* stage = room_->findChild<ClassStage*>()) {
      const char* shows = stage->showsToolView()       ? "tool"
                          : stage->showsPicture()      ? "picture"
                          : stage->showsEmbedded()     ? "app"
                          : stage->mainVideoEnlarged() ? "video"
                                                       : "waiting";
      reportChange(stage_, QStringLiteral("stage ") + shows);
    }
    if (auto* share = room_->findChild<AppShare*>())
      reportChange(appShare_, QStringLiteral("app-share ") + (share->sharing() ? "on" : "off"));
    if (auto* list = room_->findChild<CoursewareList*>()) {
      QStringList names;
      for (const CoursewareItem* item : list->items())
        names << item->name();
      reportChange(courseware_, QStringLiteral("courseware ") + names.join(QLatin1Char(',')));
    }
    // The player's position, each new second of it.
    if (auto* playback = room_->findChild<CoursewarePlayback*>())
      if (CoursewarePlayDialog* dialog = playback->dialog(); dialog && dialog != playing_) {
        playing_ = dialog;
        connect(dialog, &CoursewarePlayDialog::signal_play_progress, this,
                [this](qint64 seconds, qint64 total) {
                  reportChange(position_, QStringLiteral("playing %1 %2").arg(seconds).arg(total));
                });
      }
    if (auto* docs = room_->findChild<DocumentList*>()) {
      QStringList names;
      for (const DocumentItem* item : docs->items())
        names << item->fileName();
      reportChange(documents_, QStringLiteral("documents ") + names.join(QLatin1Char(',')));
    }
    reportChange(toast_, QStringLiteral("toast ") + Prompt::instance()->text());
    if (auto* bar = room_->findChild<AnnouncementBar*>())
      reportChange(announcement_, QStringLiteral("announcement ") + bar->announcementText());
    if (auto* evaluation = room_->findChild<ClassEvaluation*>())
      reportChange(rating_, QStringLiteral("rating ") + (evaluation->dialog() ? "open" : "closed"));
    if (waitingForGift_ && !Prompt::instance()->text().isEmpty()) {
      waitingForGift_ = false;
      report(QStringLiteral("gift-answer ") + Prompt::instance()->text());
    }
  }

  QPointer<Classroom> room_;
  QTimer tick_;
  QTimer toolTick_;
  QString tool_;
  QString appShare_;
  QString stage_;
  bool ready_ = false;
  bool waitingForGift_ = false;
  int effects_ = -1;
  int chatSeen_ = 0;
  int inputEnabled_ = -1;
  int teacherControls_ = -1;
  QString shared_;
  QString board_;
  QString documents_;
  QString courseware_;
  QPointer<CoursewarePlayDialog> playing_;
  QString position_;
  QString toast_ = QStringLiteral("toast ");
  QString announcement_;
  QString rating_;
  QString mcu_;
  QString class_;
  QString mainVideo_;
  QHash<quint32, QString> tiles_;
  QHash<quint32, QString> audio_;
  QString boxes_;
  QPointer<QTimer> retryTimer_;
  int retries_ = 0;
  quint32 pendingVideo_ = 0;
};

// Asked with the own ticket, as only the member itself may ask.
void reportBalance() {
  const QJsonObject answer = testsupport::postAndWait(
      ServiceApi::kGetRechargeInfo,
      FormBody(ServiceApi::kGetRechargeInfo.body).arg(LoginInfo::current().userId));
  const QJsonValue money = answer.value("body").toObject().value("money");
  report(QStringLiteral("balance ") + (money.isDouble() ? QString::number(money.toDouble(), 'g', 12)
                                                        : QStringLiteral("unknown")));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);  // the window's end is reported, then we leave
  const QStringList args = app.arguments();
  if (args.size() != 6) {
    fprintf(stderr, "usage: %s ACCOUNT ROOM SERVICE_HOST:PORT MCU_PORT MSG_PORT\n", argv[0]);
    return 2;
  }
  const QString data = QDir::homePath() + QStringLiteral("/.local/share/TavPcClient/");
  QDir().mkpath(data);
  DataFolder::setPath(data);
  LocalDatabase::open(data + "tavQN");
  LocalConfig::instance()->setServerIP(args[3]);

  QString refusal;
  const ClassroomEntry entry = testsupport::classroomEntryFor(
      args[1], args[2].toUInt(), quint16(args[4].toUInt()), quint16(args[5].toUInt()), &refusal);
  if (entry.roomId == 0) {
    report(QStringLiteral("refused ") + refusal);
    return 1;
  }
  auto* room = new Classroom(entry);
  room->setAttribute(Qt::WA_DeleteOnClose);
  room->show();
  Watcher watcher(room);

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QByteArray pending;
  QObject::connect(&input, &QSocketNotifier::activated, &watcher, [&] {
    char buffer[512];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {  // the test went away
      input.setEnabled(false);
      QCoreApplication::exit(0);
      return;
    }
    pending.append(buffer, int(got));
    for (int end; (end = pending.indexOf('\n')) >= 0;) {
      const QString line = QString::fromUtf8(pending.left(end));
      pending.remove(0, end + 1);
      const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
      if (words.size() == 4 && words[0] == QLatin1String("gift"))
        watcher.gift(words[1].toUInt(), words[2], words[3].toInt());
      else if (words == QStringList{QStringLiteral("balance")})
        reportBalance();
      else if (words.size() == 2 && words[0] == QLatin1String("watch"))
        watcher.watch(words[1].toInt());
      else if (words == QStringList{QStringLiteral("start-class")})
        watcher.startClass();
      else if (words.size() == 2 && words[0] == QLatin1String("open-video"))
        watcher.openVideo(words[1].toUInt());
      else if (words.size() >= 2 && words[0] == QLatin1String("share-app"))
        watcher.shareApp(QStringList(words.mid(1)).join(QLatin1Char(' ')));
      else if (words == QStringList{QStringLiteral("end-share")})
        watcher.endShare();
      else if (words == QStringList{QStringLiteral("annotate")})
        watcher.annotate();
      else if (words.size() >= 3 && words[0] == QLatin1String("draw"))
        watcher.draw(words.mid(1));
      else if (words.size() >= 2 && words[0] == QLatin1String("rate"))
        watcher.rate(words[1].toInt(), QStringList(words.mid(2)).join(QLatin1Char(' ')));
    }
  });
  const int code = app.exec();
  LocalDatabase::close();
  return code;
}
