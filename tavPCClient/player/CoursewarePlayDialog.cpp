#include "CoursewarePlayDialog.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <climits>

#include "ClassroomContext.h"
#include "CoursewareRenderWidget.h"
#include "CoursewareWidget.h"
#include "DataFolder.h"
#include "FileDownload.h"
#include "FormBody.h"
#include "LocalConfig.h"
#include "LoginInfo.h"
#include "PlayerRules.h"
#include "Prompt.h"
#include "ServiceApi.h"
#include "ShareLinkDialog.h"

namespace {

const char kStyle[] = R"(
CoursewarePlayDialog { background: #1f2329; }
#playerHeader QLabel { color: #e8eaed; font-size: 14px; }
QLabel#playerUploader { color: #9aa0a6; font-size: 13px; }
QLabel#playerStatus { color: #ffffff; background: rgba(0,0,0,150); padding: 8px 16px;
  border-radius: 4px; font-size: 15px; }
#playerControls QLabel { color: #e8eaed; font-family: monospace; }
#playerControls QPushButton { color: #e8eaed; background: #2f353d; border: 1px solid #3c434c;
  border-radius: 4px; padding: 4px 12px; min-width: 48px; }
#playerControls QPushButton:hover { background: #3a414a; }
QSlider#playerSlider::groove:horizontal { height: 6px; background: #3c434c; border-radius: 3px; }
QSlider#playerSlider::sub-page:horizontal { background: #1a73e8; border-radius: 3px; }
QSlider#playerSlider::handle:horizontal { background: #ffffff; width: 12px; margin: -4px 0;
  border-radius: 6px; }
QSlider#playerSlider::handle:horizontal:disabled { background: #6b7178; }
QProgressBar#playerDownload { color: #e8eaed; background: #2f353d; border: none;
  border-radius: 3px; text-align: center; height: 16px; }
QProgressBar#playerDownload::chunk { background: #1e8e3e; border-radius: 3px; }
#playerSide, #playerRows, QScrollArea#playerList { background: #ffffff; }
#playerSide QLabel#playerOwnName { color: #202124; font-size: 14px; }
#playerSide QLabel#playerListTitle { color: #202124; font-weight: bold; padding: 6px 12px; }
#playerSide QPushButton { color: #1a73e8; background: #ffffff; border: 1px solid #dadce0;
  border-radius: 4px; padding: 4px 12px; }
#playerSide QPushButton:hover { background: #f1f3f4; }
#CoursewareWidget { background: #ffffff; border-bottom: 1px solid #eef0f3; }
#CoursewareWidget:hover { background: #f3f7fc; }
#CoursewareWidget[checked="true"] { background: #e8f0fe; }
QLabel#coursewareWidgetName { color: #202124; }
QLabel#coursewareWidgetUploader { color: #80868b; font-size: 12px; }
)";

constexpr int kSideWidth = 280;
constexpr int kHeadSide = 48;

bool succeeded(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  return !answer.isEmpty() && (code.isUndefined() || code.isNull() || code.toInt(-1) == 0);
}

int idOf(const QJsonValue& v) {
  return v.isString() ? v.toString().toInt() : v.toInt();
}

}  // namespace

CoursewarePlayDialog::CoursewarePlayDialog(ClassroomContext& context, int coursewareId,
                                           const QString& roomLink, QWidget* parent)
    : QDialog(parent),
      context_(context),
      coursewareId_(coursewareId),
      roomLink_(roomLink),
      player_(new Player2UI(this)) {
  setObjectName(QStringLiteral("CoursewarePlayDialog"));
  setWindowTitle(QStringLiteral("播放器"));
  setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowMinMaxButtonsHint);
  // The player's progress, on the GUI thread already, goes out as the dialog's own.
  connect(player_, &Player2UI::playProgress, this, &CoursewarePlayDialog::signal_play_progress);
  connect(this, &CoursewarePlayDialog::signal_play_progress, this,
          &CoursewarePlayDialog::slot_play_progress);
  connect(player_, &Player2UI::frameReady, this,
          [this](const QImage& picture) { render_->setFrame(picture); });
  buildWindow();
  player_->setTargetSource([render = render_] { return render->targetSize(); });
  setCacheFolder(DataFolder::path() + QStringLiteral("video/%1/").arg(context_.roomId()));

  // Followed already? The classroom learnt it at start-up; the title bar's
  // button and this one keep each other informed through the same answer.
  const QString path = QString::fromLatin1(ServiceApi::kSelectRoomAssociatedByIds.path);
  auto apply = [this](const QJsonObject& answer) {
    if (succeeded(answer))
      showFollowed(answer.value(QStringLiteral("body"))
                       .toObject()
                       .value(QStringLiteral("followed"))
                       .toBool());
  };
  apply(context_.startAnswer(path));
  connect(&context_, &ClassroomContext::startAnswerArrived, this,
          [path, apply](const QString& p, const QJsonObject& answer) {
            if (p == path)
              apply(answer);
          });
  QTimer::singleShot(0, this, &CoursewarePlayDialog::slot_init_resources);
}

CoursewarePlayDialog::~CoursewarePlayDialog() {
  cancelDownload();
  stopPlayer();
}

bool CoursewarePlayDialog::downloading() const {
  return fetch_ && fetch_->running();
}

void CoursewarePlayDialog::buildWindow() {
  setStyleSheet(QString::fromUtf8(kStyle));
  resize(1100, 660);
  setMinimumSize(860, 520);

  // Left: the courseware's name, the picture, the download and the controls.
  header_ = new QWidget(this);
  header_->setObjectName(QStringLiteral("playerHeader"));
  titleLabel_ = new QLabel(header_);
  titleLabel_->setObjectName(QStringLiteral("playerTitle"));
  titleLabel_->setTextFormat(Qt::PlainText);
  uploaderLabel_ = new QLabel(header_);
  uploaderLabel_->setObjectName(QStringLiteral("playerUploader"));
  uploaderLabel_->setTextFormat(Qt::PlainText);
  auto* headerRow = new QHBoxLayout(header_);
  headerRow->setContentsMargins(4, 0, 4, 0);
  headerRow->addWidget(titleLabel_, 1);
  headerRow->addWidget(uploaderLabel_);

  render_ = new CoursewareRenderWidget(this);
  connect(render_, &CoursewareRenderWidget::signal_doubleClicked, this,
          &CoursewarePlayDialog::slot_VRWidgetMiddleLeft);
  status_ = new QLabel(render_);
  status_->setObjectName(QStringLiteral("playerStatus"));
  status_->setTextFormat(Qt::PlainText);
  status_->hide();
  auto* overlay = new QVBoxLayout(render_);
  overlay->addStretch(1);
  overlay->addWidget(status_, 0, Qt::AlignHCenter);
  overlay->addStretch(1);

  downloadRow_ = new QWidget(this);
  download_ = new QProgressBar(downloadRow_);
  download_->setObjectName(QStringLiteral("playerDownload"));
  download_->setRange(0, 100);
  download_->setValue(0);
  download_->setFormat(QStringLiteral("正在下载课件 %p%"));
  auto* downloadLayout = new QHBoxLayout(downloadRow_);
  downloadLayout->setContentsMargins(0, 0, 0, 0);
  downloadLayout->addWidget(download_);

  controls_ = new QWidget(this);
  controls_->setObjectName(QStringLiteral("playerControls"));
  playPause_ = new QPushButton(controls_);
  playPause_->setObjectName(QStringLiteral("btnPlayPause"));
  playPause_->setCheckable(true);
  playPause_->setCursor(Qt::PointingHandCursor);
  playPause_->setFocusPolicy(Qt::NoFocus);
  auto showPlayState = [this](bool playing) {
    playPause_->setText(playing ? QStringLiteral("暂停") : QStringLiteral("播放"));
  };
  showPlayState(false);
  connect(playPause_, &QPushButton::toggled, this, showPlayState);
  connect(playPause_, &QPushButton::clicked, this, &CoursewarePlayDialog::slot_PButtonPlayPause);
  replay_ = new QPushButton(QStringLiteral("重播"), controls_);
  replay_->setObjectName(QStringLiteral("btnReplay"));
  replay_->setCursor(Qt::PointingHandCursor);
  replay_->setFocusPolicy(Qt::NoFocus);
  replay_->hide();
  connect(replay_, &QPushButton::clicked, this, &CoursewarePlayDialog::slot_PButtonReplay);
  current_time_ = new QLabel(player::formatPlayTime(0), controls_);
  current_time_->setObjectName(QStringLiteral("playerCurrentTime"));
  total_time_ = new QLabel(player::formatPlayTime(0), controls_);
  total_time_->setObjectName(QStringLiteral("playerTotalTime"));
  slider_ = new QSlider(Qt::Horizontal, controls_);
  slider_->setObjectName(QStringLiteral("playerSlider"));
  slider_->setRange(0, 0);
  slider_->setValue(0);
  slider_->setEnabled(false);
  slider_->setCursor(Qt::PointingHandCursor);
  slider_->installEventFilter(this);
  auto* controlRow = new QHBoxLayout(controls_);
  controlRow->setContentsMargins(0, 0, 0, 0);
  controlRow->setSpacing(8);
  controlRow->addWidget(playPause_);
  controlRow->addWidget(replay_);
  controlRow->addWidget(current_time_);
  controlRow->addWidget(slider_, 1);
  controlRow->addWidget(total_time_);

  auto* left = new QVBoxLayout;
  left->setContentsMargins(12, 10, 12, 10);
  left->setSpacing(8);
  left->addWidget(header_);
  left->addWidget(render_, 1);
  left->addWidget(downloadRow_);
  left->addWidget(controls_);

  // Right: the own picture, follow and share, the list of videos.
  side_ = new QWidget(this);
  side_->setObjectName(QStringLiteral("playerSide"));
  side_->setAttribute(Qt::WA_StyledBackground);
  side_->setFixedWidth(kSideWidth);
  head_ = new QLabel(side_);
  head_->setObjectName(QStringLiteral("playerHead"));
  head_->setFixedSize(kHeadSide, kHeadSide);
  auto* ownName = new QLabel(side_);
  ownName->setObjectName(QStringLiteral("playerOwnName"));
  ownName->setTextFormat(Qt::PlainText);
  ownName->setText(fontMetrics().elidedText(LoginInfo::current().displayName, Qt::ElideRight, 180));
  follow_ = new QPushButton(QStringLiteral("关注班级"), side_);
  follow_->setObjectName(QStringLiteral("btnPlayerFollow"));
  follow_->setCursor(Qt::PointingHandCursor);
  connect(follow_, &QPushButton::clicked, this, &CoursewarePlayDialog::slot_PButtonFollow);
  auto* share = new QPushButton(QStringLiteral("分享"), side_);
  share->setObjectName(QStringLiteral("btnPlayerShare"));
  share->setCursor(Qt::PointingHandCursor);
  connect(share, &QPushButton::clicked, this, &CoursewarePlayDialog::slot_PButtonShare);
  auto* who = new QHBoxLayout;
  who->setContentsMargins(12, 12, 12, 6);
  who->addWidget(head_);
  who->addWidget(ownName, 1);
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(12, 0, 12, 6);
  buttons->addWidget(follow_);
  buttons->addWidget(share);
  buttons->addStretch(1);
  auto* listTitle = new QLabel(QStringLiteral("课件列表"), side_);
  listTitle->setObjectName(QStringLiteral("playerListTitle"));
  listArea_ = new QScrollArea(side_);
  listArea_->setObjectName(QStringLiteral("playerList"));
  listArea_->setFrameShape(QFrame::NoFrame);
  listArea_->setWidgetResizable(true);
  listArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* rows = new QWidget(listArea_);
  rows->setObjectName(QStringLiteral("playerRows"));
  list_ = new QVBoxLayout(rows);
  list_->setContentsMargins(0, 0, 0, 0);
  list_->setSpacing(0);
  list_->addStretch(1);
  listArea_->setWidget(rows);
  auto* sideLayout = new QVBoxLayout(side_);
  sideLayout->setContentsMargins(0, 0, 0, 0);
  sideLayout->setSpacing(0);
  sideLayout->addLayout(who);
  sideLayout->addLayout(buttons);
  sideLayout->addWidget(listTitle);
  sideLayout->addWidget(listArea_, 1);

  auto* body = new QHBoxLayout(this);
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  body->addLayout(left, 1);
  body->addWidget(side_);
}

void CoursewarePlayDialog::setCacheFolder(const QString& folder) {
  cacheFolder_ = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
  QDir().mkpath(cacheFolder_);
}

QString CoursewarePlayDialog::statusText() const {
  return status_->isHidden() ? QString() : status_->text();
}

void CoursewarePlayDialog::showStatus(const QString& text) {
  status_->setText(text);
  status_->setVisible(!text.isEmpty());
}

void CoursewarePlayDialog::toast(const QString& text) {
  Prompt::instance()->showMessage(this, text);
}

// ---- opening ----

void CoursewarePlayDialog::slot_init_resources() {
  const QPixmap own = context_.ownAvatar();
  if (!own.isNull()) {
    onGetHeadIcon(own);
  } else if (!LoginInfo::current().avatarPath.isEmpty()) {
    context_.service().fetchPicture(LoginInfo::current().avatarPath, this,
                                    &CoursewarePlayDialog::onGetHeadIcon);
  }
  context_.service().post(
      ServiceApi::kFindCoursewareForPlayer,
      FormBody(ServiceApi::kFindCoursewareForPlayer.body).arg(context_.roomId()), this,
      &CoursewarePlayDialog::onGetCoursewares);
}

void CoursewarePlayDialog::onGetHeadIcon(QPixmap pixmap) {
  if (pixmap.isNull())
    return;
  head_->setPixmap(pixmap.scaled(head_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void CoursewarePlayDialog::onGetCoursewares(QJsonObject answer) {
  if (answer.isEmpty()) {
    toast(QStringLiteral("网络不给力，请检查网络后重试！"));
    return;
  }
  const QJsonArray rows = answer.value(QStringLiteral("rows")).toArray();
  if (!succeeded(answer) || rows.isEmpty()) {
    toast(QStringLiteral("未能获取到课件相应数据！"));
    return;
  }
  // A list asked for again replaces the one shown.
  for (CoursewareWidget* entry : entries_)
    entry->deleteLater();
  entries_.clear();
  CoursewareWidget* wanted = nullptr;
  for (const QJsonValue& value : rows) {
    const QJsonObject record = value.toObject();
    const QJsonValue filePath = record.value(QStringLiteral("filePath"));
    const QString renditions =
        filePath.isObject()
            ? QString::fromUtf8(QJsonDocument(filePath.toObject()).toJson(QJsonDocument::Compact))
            : filePath.toString();
    auto* entry = new CoursewareWidget(idOf(record.value(QStringLiteral("id"))),
                                       record.value(QStringLiteral("coursewareName")).toString(),
                                       record.value(QStringLiteral("nickName")).toString(),
                                       player::choosePlayUrl(renditions), listArea_->widget());
    connect(entry, &CoursewareWidget::signal_watch, this,
            &CoursewarePlayDialog::slot_WatchCourseware);
    list_->insertWidget(list_->count() - 1, entry);
    entries_.append(entry);
    if (entry->id() == coursewareId_ && !wanted)
      wanted = entry;
  }
  if (wanted)
    slot_WatchCourseware(wanted);
  else
    showStatus(QStringLiteral("请从右侧列表选择要播放的课件"));
}

void CoursewarePlayDialog::watchCourseware(int coursewareId) {
  coursewareId_ = coursewareId;
  for (CoursewareWidget* entry : entries_)
    if (entry->id() == coursewareId) {
      slot_WatchCourseware(entry);
      return;
    }
  // Not in the list shown (added since): ask again.
  context_.service().post(
      ServiceApi::kFindCoursewareForPlayer,
      FormBody(ServiceApi::kFindCoursewareForPlayer.body).arg(context_.roomId()), this,
      &CoursewarePlayDialog::onGetCoursewares);
}

void CoursewarePlayDialog::slot_WatchCourseware(CoursewareWidget* entry) {
  if (!entry || !entries_.contains(entry))
    return;
  for (CoursewareWidget* other : entries_)
    other->setChecked(other == entry);
  titleLabel_->setText(QStringLiteral("课件：") + entry->name());
  uploaderLabel_->setText(QStringLiteral("上传者：") + entry->uploader());
  current_ = entry;
  coursewareId_ = entry->id();
  play(entry);
}

// ---- playing ----

void CoursewarePlayDialog::play(CoursewareWidget* entry) {
  cancelDownload();
  stopPlayer();
  slider_->setEnabled(false);
  slider_->setRange(0, 0);
  slider_->setValue(0);
  current_time_->setText(player::formatPlayTime(0));
  total_time_->setText(player::formatPlayTime(0));
  render_->clear();
  playPause_->hide();
  replay_->hide();
  showStatus(QString());
  download_->setRange(0, 100);
  download_->setValue(0);
  downloadRow_->show();
  listArea_->ensureWidgetVisible(entry, 0, CoursewareWidget::kHeight);

  localPath_ = player::cacheFileName(cacheFolder_, entry->name());
  if (QFileInfo(localPath_).isFile()) {
    download_->setValue(download_->maximum());
    startPlayer();
    return;
  }
  // The cache file appears only once complete: an interrupted download is
  // never taken for a cached video.
  FileDownload* fetch = context_.service().download(QUrl(entry->playUrl()), localPath_, this);
  connect(fetch, &FileDownload::progress, this, &CoursewarePlayDialog::loadProgress);
  connect(fetch, &FileDownload::finished, this, [this, fetch](bool ok, int failure) {
    fetch->deleteLater();
    if (fetch == fetch_)
      downloadFinished(ok, failure);
  });
  if (!fetch->start()) {
    delete fetch;
    downloadFinished(false, FileDownload::kNoWriteAccess);
    return;
  }
  fetch_ = fetch;
}

void CoursewarePlayDialog::loadProgress(qint64 received, qint64 total) {
  if (total <= 0)
    return;
  // A bar counts in int: very large files are counted in KiB.
  const int shift = total > INT_MAX ? 10 : 0;
  download_->setMaximum(int(total >> shift));
  download_->setValue(int(qMin(received, total) >> shift));
}

void CoursewarePlayDialog::downloadFinished(bool ok, int failure) {
  fetch_ = nullptr;
  if (ok) {
    startPlayer();
    return;
  }
  if (failure == FileDownload::kNoWriteAccess) {
    qWarning().noquote() << QStringLiteral("打开文件地址：") + localPath_ + QStringLiteral("失败");
    downloadRow_->hide();
    showStatus(QStringLiteral("不具备写权限！"));
    return;
  }
  downloadFailed();
}

void CoursewarePlayDialog::downloadFailed() {
  downloadRow_->hide();
  showStatus(QStringLiteral("课件下载失败！"));
}

void CoursewarePlayDialog::cancelDownload() {
  if (FileDownload* fetch = fetch_) {
    fetch_ = nullptr;
    delete fetch;  // its part file goes with it
  }
}

void CoursewarePlayDialog::startPlayer() {
  bool ok = false;
  const int speaker =
      LocalConfig::instance()->value(QStringLiteral("conf/speakerIndex")).toInt(&ok);
  player_->setShowPictures(!isMinimized());
  if (!player_->start(localPath_, ok ? qMax(speaker, 0) : 0)) {
    downloadRow_->hide();
    showStatus(QStringLiteral("启动播放失败！"));
    return;
  }
  playPause_->setChecked(true);
  playPause_->show();
  slider_->setEnabled(true);
  downloadRow_->hide();
}

void CoursewarePlayDialog::stopPlayer() {
  player_->stop();
}

void CoursewarePlayDialog::slot_play_progress(qint64 seconds, qint64 total) {
  if (seconds >= total) {
    // The end.
    stopPlayer();
    slider_->setEnabled(false);
    render_->clear();
    playPause_->hide();
    replay_->show();
    if (total > 0) {
      slider_->setValue(slider_->maximum());
      current_time_->setText(player::formatPlayTime(int(total)));
    }
    return;
  }
  if (!player_->isPlaying())
    return;
  slider_->setMaximum(int(total));
  total_time_->setText(player::formatPlayTime(int(total)));
  if (!slider_->isSliderDown())
    slider_->setValue(int(seconds));
  current_time_->setText(player::formatPlayTime(int(seconds)));
}

bool CoursewarePlayDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == slider_ && event->type() == QEvent::MouseButtonRelease && slider_->isEnabled()) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) {
      const int percent = player::seekPercent(mouse->pos().x(), slider_->width(),
                                              slider_->minimum(), slider_->maximum());
      if (percent >= 0) {
        qDebug() << "CoursewarePlayDialog::eventFilter:" << percent;
        player_->seek(percent);
        slider_->setValue(slider_->maximum() * percent / 100);
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CoursewarePlayDialog::slot_PButtonPlayPause() {
  player_->setPause(!playPause_->isChecked());
}

void CoursewarePlayDialog::slot_PButtonReplay() {
  if (current_)
    play(current_);
}

// ---- full size ----

void CoursewarePlayDialog::slot_VRWidgetMiddleLeft() {
  if (fullSize_) {
    leaveFullSize();
    return;
  }
  resumeAfterFullSize_ = player_->isPlaying() && playPause_->isChecked();
  player_->setPause(true);
  normalGeometry_ = geometry();
  const QScreen* screen =
      windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
  header_->hide();
  side_->hide();
  controls_->hide();
  downloadRow_->hide();
  setGeometry(screen->geometry());
  fullSize_ = true;
  QTimer::singleShot(0, this, &CoursewarePlayDialog::slot_Max_Common);
}

void CoursewarePlayDialog::slot_Max_Common() {
  if (resumeAfterFullSize_)
    player_->setPause(false);
}

void CoursewarePlayDialog::leaveFullSize() {
  fullSize_ = false;
  header_->show();
  side_->show();
  controls_->show();
  downloadRow_->setVisible(downloading());
  setGeometry(normalGeometry_);
}

void CoursewarePlayDialog::keyPressEvent(QKeyEvent* event) {
  // Escape in the full-size view goes back to the window, not out of it.
  if (fullSize_ && event->key() == Qt::Key_Escape) {
    leaveFullSize();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CoursewarePlayDialog::changeEvent(QEvent* event) {
  // Pictures nobody can see are not converted.
  if (event->type() == QEvent::WindowStateChange)
    player_->setShowPictures(!isMinimized());
  QDialog::changeEvent(event);
}

// ---- follow and share ----

void CoursewarePlayDialog::showFollowed(bool followed) {
  followed_ = followed;
  follow_->setText(followed ? QStringLiteral("取消关注") : QStringLiteral("关注班级"));
}

void CoursewarePlayDialog::slot_PButtonFollow() {
  // The button shows the state the service confirmed, not the click.
  const bool followed = followed_;
  follow_->setEnabled(false);
  const ServiceEndpoint& endpoint =
      followed ? ServiceApi::kDeleteRoomAssociated : ServiceApi::kAddRoomAssociated;
  const QString body = FormBody(endpoint.body).arg(context_.ownUserId()).arg(context_.roomId());
  if (followed)
    context_.service().post(endpoint, body, this, &CoursewarePlayDialog::onCancelAttention_back);
  else
    context_.service().post(endpoint, body, this, &CoursewarePlayDialog::onAttention_back);
}

void CoursewarePlayDialog::onAttention_back(QJsonObject answer) {
  followAnswered(answer, true);
}

void CoursewarePlayDialog::onCancelAttention_back(QJsonObject answer) {
  followAnswered(answer, false);
}

void CoursewarePlayDialog::followAnswered(const QJsonObject& answer, bool followed) {
  follow_->setEnabled(true);
  if (!succeeded(answer)) {
    toast(QStringLiteral("网络不给力，请检查网络后重试！"));
    return;
  }
  toast(followed ? QStringLiteral("关注班级成功！") : QStringLiteral("取消关注班级成功！"));
  // The classroom's own button reads the same answer, and so does this one.
  context_.keepStartAnswer(QString::fromLatin1(ServiceApi::kSelectRoomAssociatedByIds.path),
                           QJsonObject{{"code", 0}, {"body", QJsonObject{{"followed", followed}}}});
}

void CoursewarePlayDialog::slot_PButtonShare() {
  ShareLinkDialog share(roomLink_, QStringLiteral("分享成功后就可以免费督学、伴学了！"), this);
  share.exec();
}
