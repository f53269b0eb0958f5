// Recording the class ("录制"/"停录"): the teacher side's checkable record button and the
// clock beside it. The recorder (libcentra) joins the class unseen and records it apart from
// this window; a recording of a minute or more is offered for publishing when it stops
// (CoursewarePublishing, the courseware list's dialog), and one left unpublished by an
// earlier visit is offered when the classroom opens. The recorder never outlives the part.
// Its notifications come on its own thread and only emit _record_msg.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "ClassroomComponent.h"
#include "libcentra/centra.h"

class ClassroomContext;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;

// What centra::create is given: the ten arguments in order, then the options.
struct RecorderArguments {
  unsigned roomId = 0;
  unsigned userId = 0;
  QByteArray mcuIp;  // Latin-1
  unsigned short mcuPort = 0;
  video_format_t format = video_format_mp4;
  bool contentOnly = false;
  QByteArray videoServerHost;  // Latin-1
  unsigned short videoServerPort = 0;
  record_callback_t callback = nullptr;
  void* context = nullptr;
  centra_options options{};
};
using RecorderMaker = std::function<centra*(const RecorderArguments& arguments)>;

class RecordingControl : public QObject, public ClassroomComponent {
  Q_OBJECT

public:
  explicit RecordingControl(ClassroomContext& context, QObject* parent = nullptr);
  ~RecordingControl() override;

  // The button and the clock, for the window to place (shown to the teacher side only).
  QWidget* bar() const { return bar_; }
  QPushButton* button() const { return button_; }
  QLabel* clock() const { return clock_; }
  bool recording() const { return recorder_ != nullptr; }
  // Where recordings wait until they are published (below the data folder).
  static QString recordingsFolder();

  // ClassroomComponent
  void classStopping() override;
  void leaving() override;

  // Replaces centra::create (tests; empty restores it).
  static void setRecorderMaker(RecorderMaker maker);

  // The libcentra callback: on its thread, it only emits _record_msg.
  static void recordCallback(void* context, record_msg_t msg, void* arg);

public slots:
  void btnRecord_toggled(bool checked);
  void __record_msg(int msg, void* arg);
  // One second more on the clock (the clock timer's tick).
  void slot_record_timeout();
  // A recording an earlier visit left unpublished: offered for publishing (a minute or more),
  // else removed.
  void offerUnpublished();

signals:
  void _record_msg(int msg, void* arg);
  void signal_record_updated(bool published);
  // How much of the recording the video server holds (queued from the upload's thread).
  void signal_upload_progress(qint64 held, qint64 total);

private:
  void startRecording();
  void stopRecording();
  void stopClock();
  void showClock();
  void resetButton();
  // The publishing dialog over the window, modal; the list reloaded when it published.
  void publish();
  centra* makeRecorder(const QByteArray& recording);

  ClassroomContext& context_;
  QWidget* bar_;
  QPushButton* button_;
  QLabel* clock_;
  QTimer* timer_ = nullptr;
  int seconds_ = 0;
  centra* recorder_ = nullptr;
  bool stoppingOwnClass_ = false;
  // The upload's result as the callback copied it: the notification's own argument is valid
  // only during the callback, and the slot runs later on the window's thread (the queued
  // signal carries the write over).
  int32_t uploadResult_ = 0;
  // The texts centra_options points to, kept while the recorder is made.
  QByteArray credential_, ticket_, fileServer_, folder_;
};
