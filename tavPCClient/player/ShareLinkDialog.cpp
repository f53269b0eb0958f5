#include "ShareLinkDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "QrImage.h"

namespace {
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
  const QImage qr = qr::qrImage(link);
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

void ShareLinkDialog::slot_CopyLink() {
  QApplication::clipboard()->setText(link_);
  copied_->setText(QStringLiteral("链接已复制，快去分享吧！"));
}
