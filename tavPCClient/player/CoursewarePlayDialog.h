// The courseware player: the room's video courseware in a list, the chosen
// one downloaded once into the member's cache and played with vidora, with
// play/pause, replay, a progress bar to click in and the time labels; a double
// click on the picture shows it at the size of the screen. The member can
// follow the room and share its link from here.
//
// The video downloads through the context's service calls and plays through
// a Player2UI, which brings its progress and pictures to the GUI thread.
#pragma once

#include <QDialog>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QRect>

#include "CoursewareWidget.h"
#include "Player2UI.h"

class ClassroomContext;
class CoursewareRenderWidget;
class FileDownload;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSlider;
class QVBoxLayout;

class CoursewarePlayDialog : public QDialog {
  Q_OBJECT

public:
  // Makes a player for a local file (path in the local 8-bit encoding); null
  // when it cannot.
  using PlayerFactory = Player2UI::Factory;

  CoursewarePlayDialog(ClassroomContext& context, int coursewareId, const QString& roomLink,
                       QWidget* parent = nullptr);
  ~CoursewarePlayDialog() override;

  // Before anything plays (tests).
  void setPlayerFactory(PlayerFactory factory) { player_->setFactory(std::move(factory)); }
  // Where videos are kept; made when missing. Before the list arrives (tests).
  void setCacheFolder(const QString& folder);
  QString cacheFolder() const { return cacheFolder_; }

  // Another courseware of the room asked for while the dialog is open.
  void watchCourseware(int coursewareId);

  QList<CoursewareWidget*> entries() const { return entries_; }
  CoursewareWidget* current() const { return current_; }
  bool playing() const { return player_->isPlaying(); }
  bool downloading() const;
  QString localPath() const { return localPath_; }
  QString statusText() const;
  bool fullSize() const { return fullSize_; }
  bool followed() const { return followed_; }

signals:
  void signal_play_progress(qint64 bytesSent, qint64 bytesTotal);

public slots:
  void slot_init_resources();
  void onGetCoursewares(QJsonObject answer);
  void onGetHeadIcon(QPixmap pixmap);
  void slot_PButtonFollow();
  void onAttention_back(QJsonObject answer);
  void onCancelAttention_back(QJsonObject answer);
  void slot_PButtonShare();
  void slot_WatchCourseware(CoursewareWidget* entry);
  void downloadFinished(bool ok, int failure);
  void loadProgress(qint64 received, qint64 total);
  void slot_PButtonPlayPause();
  void slot_PButtonReplay();
  void slot_play_progress(qint64 seconds, qint64 total);
  void slot_VRWidgetMiddleLeft();
  void slot_Max_Common();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  void buildWindow();
  void play(CoursewareWidget* entry);
  void startPlayer();
  void stopPlayer();
  void cancelDownload();
  void downloadFailed();
  void showStatus(const QString& text);
  void showFollowed(bool followed);
  void followAnswered(const QJsonObject& answer, bool followed);
  void leaveFullSize();
  void toast(const QString& text);

  ClassroomContext& context_;
  int coursewareId_;
  const QString roomLink_;
  QString cacheFolder_;

  QList<CoursewareWidget*> entries_;
  QPointer<CoursewareWidget> current_;
  Player2UI* player_;
  QPointer<FileDownload> fetch_;
  QString localPath_;

  bool followed_ = false;
  bool fullSize_ = false;
  bool resumeAfterFullSize_ = false;
  QRect normalGeometry_;

  QLabel* titleLabel_ = nullptr;
  QLabel* uploaderLabel_ = nullptr;
  QLabel* status_ = nullptr;
  CoursewareRenderWidget* render_ = nullptr;
  QWidget* header_ = nullptr;
  QWidget* side_ = nullptr;
  QWidget* controls_ = nullptr;
  QWidget* downloadRow_ = nullptr;
  QProgressBar* download_ = nullptr;
  QSlider* slider_ = nullptr;
  QPushButton* playPause_ = nullptr;
  QPushButton* replay_ = nullptr;
  QLabel* current_time_ = nullptr;
  QLabel* total_time_ = nullptr;
  QLabel* head_ = nullptr;
  QPushButton* follow_ = nullptr;
  QScrollArea* listArea_ = nullptr;
  QVBoxLayout* list_ = nullptr;
};
