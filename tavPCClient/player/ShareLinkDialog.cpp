#include "ShareLinkDialog.h"

#include <qrencode.h>

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kQuietZone = 4;
constexpr int kCodeSide = 180;
}  // namespace

ShareLinkDialog::ShareLinkDialog(const QString& link, const QString& text, QWidget* parent)
    : QDialog(parent), link_(link), copied_(new QLabel(this)) {
  setObjectName(QStringLiteral("shareLinkDialog"));
  setWindowTitle(QStringLiteral("分享"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  setStyleSheet(QStringLiteral(
      "#shareLinkDialog { background: #ffffff; }"
      "QLabel#shareText { color: #e8710a; font-size: 14px; }"
      "QLabel#shareCopied { color: #1e8e3e; }"
      "QLineEdit#shareLink { padding: 4px; border: 1px solid #dadce0; border-radius: 3px; }"
      "QPushButton { color: #ffffff; background: #1a73e8; border: none; border-radius: 4px;"
      " padding: 6px 14px; }"));

  auto* says = new QLabel(text, this);
  says->setObjectName(QStringLiteral("shareText"));
  says->setTextFormat(Qt::PlainText);
  says->setAlignment(Qt::AlignCenter);
  says->setWordWrap(true);

  auto* code = new QLabel(this);
  code->setObjectName(QStringLiteral("shareQrCode"));
  code->setAlignment(Qt::AlignCenter);
  const QImage qr = qrImage(link);
  if (!qr.isNull()) {
    // Whole pixels per module keep the code sharp enough to scan.
    const int scale = qMax(1, kCodeSide / qr.width());
    code->setPixmap(QPixmap::fromImage(
        qr.scaled(qr.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
  } else {
    code->setText(QStringLiteral("二维码生成失败"));
  }
  auto* scan = new QLabel(QStringLiteral("手机扫码打开班级"), this);
  scan->setAlignment(Qt::AlignCenter);

  auto* field = new QLineEdit(link, this);
  field->setObjectName(QStringLiteral("shareLink"));
  field->setReadOnly(true);
  field->setCursorPosition(0);
  auto* copy = new QPushButton(QStringLiteral("复制链接"), this);
  copy->setObjectName(QStringLiteral("btnCopyLink"));
  copy->setCursor(Qt::PointingHandCursor);
  connect(copy, &QPushButton::clicked, this, &ShareLinkDialog::slot_CopyLink);
  copied_->setObjectName(QStringLiteral("shareCopied"));
  copied_->setAlignment(Qt::AlignCenter);

  auto* linkRow = new QHBoxLayout;
  linkRow->addWidget(field, 1);
  linkRow->addWidget(copy);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 16);
  layout->setSpacing(10);
  layout->addWidget(says);
  layout->addWidget(code);
  layout->addWidget(scan);
  layout->addLayout(linkRow);
  layout->addWidget(copied_);
  setFixedWidth(420);
}

QImage ShareLinkDialog::qrImage(const QString& link) {
  const QByteArray utf8 = link.toUtf8();
  if (utf8.isEmpty())
    return QImage();
  QRcode* code = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
  if (!code)
    return QImage();
  const int side = code->width + 2 * kQuietZone;
  QImage image(side, side, QImage::Format_Grayscale8);
  image.fill(255);
  for (int y = 0; y < code->width; ++y) {
    uchar* row = image.scanLine(y + kQuietZone);
    for (int x = 0; x < code->width; ++x)
      if (code->data[y * code->width + x] & 1)
        row[x + kQuietZone] = 0;
  }
  QRcode_free(code);
  return image;
}

void ShareLinkDialog::slot_CopyLink() {
  QApplication::clipboard()->setText(link_);
  copied_->setText(QStringLiteral("链接已复制，快去分享吧！"));
}
