#include "ChatPictureViewer.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QEvent>
#include <QVBoxLayout>

ChatPictureViewer::ChatPictureViewer(const QString& path, QWidget* parent)
    : QDialog(parent), scroll_(new QScrollArea(this)), label_(new QLabel(this)) {
  setObjectName(QStringLiteral("chatPictureViewer"));
  setWindowTitle(QStringLiteral("查看图片 - %1").arg(QFileInfo(path).fileName()));
  QImageReader reader(path);
  reader.setDecideFormatFromContent(true);
  reader.setAutoTransform(true);
  picture_ = QPixmap::fromImage(reader.read());
  label_->setAlignment(Qt::AlignCenter);
  label_->setToolTip(QStringLiteral("双击切换原始大小"));
  scroll_->setWidget(label_);
  scroll_->setAlignment(Qt::AlignCenter);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setStyleSheet(QStringLiteral("background: #202124;"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scroll_);
  if (picture_.isNull())
    label_->setText(QStringLiteral("图片加载失败"));
  const QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
  const QSize room = screen ? screen->availableSize() * 0.85 : QSize(1280, 720);
  QSize size = picture_.isNull() ? QSize(320, 240) : picture_.size();
  size = size.boundedTo(room).expandedTo(QSize(240, 180));
  resize(size);
  scroll_->viewport()->installEventFilter(this);
}

QSize ChatPictureViewer::shownSize() const {
  return label_->pixmap(Qt::ReturnByValue).size();
}

bool ChatPictureViewer::eventFilter(QObject* watched, QEvent* event) {
  // Fitted to the area the picture really has, once it has it.
  if (watched == scroll_->viewport() && event->type() == QEvent::Resize && fitted_)
    showFitted(true);
  return QDialog::eventFilter(watched, event);
}

void ChatPictureViewer::showFitted(bool fitted) {
  fitted_ = fitted;
  if (picture_.isNull())
    return;
  scroll_->setWidgetResizable(fitted);
  if (fitted) {
    const QSize area = scroll_->viewport()->size();
    label_->setPixmap(picture_.size().width() > area.width() || picture_.height() > area.height()
                          ? picture_.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                          : picture_);
  } else {
    label_->setPixmap(picture_);
    label_->resize(picture_.size());
  }
}

void ChatPictureViewer::mouseDoubleClickEvent(QMouseEvent* event) {
  QDialog::mouseDoubleClickEvent(event);
  showFitted(!fitted_);
}
