#include "ClassInformationWidget.h"
#include "RoomMessage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QJsonValue>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString text(const QJsonObject& o, const char* key) {
  const QJsonValue v = o.value(QLatin1String(key));
  return v.isString() ? v.toString()
                      : (v.isDouble() ? QString::number(v.toVariant().toLongLong()) : QString());
}

}  // namespace

ClassInformationWidget::ClassInformationWidget(const QJsonObject& room, bool ownRoom,
                                               QWidget* parent)
    : QWidget(parent),
      room_(room),
      ownRoom_(ownRoom),
      poster_(new QLabel(this)),
      synopsis_(new QLabel(this)),
      time_(new QLabel(this)),
      enter_(new QPushButton(QStringLiteral("进入教室"), this)) {
  setObjectName(QStringLiteral("ClassInformationWidget"));
  setAttribute(Qt::WA_StyledBackground);
  setFixedSize(kWidth, kHeight);

  poster_->setObjectName(QStringLiteral("cardPoster"));
  poster_->setFixedSize(234, 132);
  poster_->setAlignment(Qt::AlignCenter);
  poster_->setPixmap(QPixmap(QStringLiteral(":/res/room/noPic.png")));
  poster_->setCursor(Qt::PointingHandCursor);
  poster_->installEventFilter(this);

  auto* name = new QLabel(roomName(), this);
  name->setObjectName(QStringLiteral("cardName"));
  name->setToolTip(roomName());

  synopsis_->setObjectName(QStringLiteral("cardSynopsis"));
  synopsis_->setWordWrap(true);
  synopsis_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  synopsis_->setText(cutSynopsis(text(room_, "roomSynopsis")));
  synopsis_->setToolTip(text(room_, "roomSynopsis"));

  auto* tag = new QLabel(text(room_, "tag"), this);
  tag->setObjectName(QStringLiteral("cardTag"));
  auto* seats = new QLabel(QStringLiteral("人数：%1").arg(text(room_, "usableNumbers")), this);
  seats->setObjectName(QStringLiteral("cardSeats"));
  auto* row = new QHBoxLayout;
  row->addWidget(tag);
  row->addStretch();
  row->addWidget(seats);
  if (!ownRoom_) {
    auto* teacher = new QLabel(text(room_, "nickName"), this);
    teacher->setObjectName(QStringLiteral("cardTeacher"));
    row->insertWidget(1, teacher);
  }

  time_->setObjectName(QStringLiteral("cardTime"));
  time_->setWordWrap(true);
  time_->setText(classTime(text(room_, "planStartDate"), text(room_, "planEndDate")));

  enter_->setObjectName(QStringLiteral("primaryButton"));
  enter_->setCursor(Qt::PointingHandCursor);
  connect(enter_, &QPushButton::clicked, this, [this] { emit signal_EnterClassroom(this); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  if (ownRoom_) {
    auto* settings = new QPushButton(QStringLiteral("设置"), this);
    settings->setObjectName(QStringLiteral("secondaryButton"));
    settings->setCursor(Qt::PointingHandCursor);
    connect(settings, &QPushButton::clicked, this, [this] { emit signal_Settings(this); });
    buttons->addWidget(settings);
  }
  buttons->addWidget(enter_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 10);
  layout->setSpacing(6);
  layout->addWidget(poster_);
  layout->addWidget(name);
  layout->addWidget(synopsis_, 1);
  layout->addLayout(row);
  layout->addWidget(time_);
  layout->addLayout(buttons);
}

quint32 ClassInformationWidget::roomId() const {
  // Joined-room entries carry the room in "roomId"; own rooms in "id".
  if (room_.contains(QLatin1String("roomId")))
    return roommsg::userIdOf(room_.value(QLatin1String("roomId"))).value_or(0);
  return roommsg::userIdOf(room_.value(QLatin1String("id"))).value_or(0);
}

quint32 ClassInformationWidget::ownerId() const {
  return roommsg::userIdOf(room_.value(QLatin1String("globalId"))).value_or(0);
}

QString ClassInformationWidget::roomName() const {
  return text(room_, "roomName");
}

QString ClassInformationWidget::imagePath() const {
  return text(room_, "imagePath");
}

QString ClassInformationWidget::posterPath() const {
  const QString path = imagePath();
  return path.startsWith('/') ? path : '/' + path;
}

void ClassInformationWidget::setPoster(const QPixmap& poster) {
  if (poster.isNull())
    return;  // keep the placeholder
  poster_->setPixmap(
      poster.scaled(poster_->size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
          .copy(QRect(QPoint(0, 0), poster_->size())));
}

void ClassInformationWidget::setEnterEnabled(bool enabled) {
  enter_->setEnabled(enabled);
}

bool ClassInformationWidget::enterEnabled() const {
  return enter_->isEnabled();
}

QString ClassInformationWidget::synopsisText() const {
  return synopsis_->text();
}

QString ClassInformationWidget::timeText() const {
  return time_->text();
}

QString ClassInformationWidget::cutSynopsis(const QString& synopsis) {
  if (synopsis.size() <= kSynopsisLimit)
    return synopsis;
  return synopsis.left(kSynopsisLimit) + QStringLiteral("……");
}

QString ClassInformationWidget::classTime(const QString& start, const QString& end) {
  QString s = start, e = end;
  s.replace('.', '-');
  e.replace('.', '-');
  return QStringLiteral("开课时间：") + s + QStringLiteral(" - ") + e;
}

bool ClassInformationWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == poster_ && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
    emit signal_PLPoster(this);
  return QWidget::eventFilter(watched, event);
}
