#include "QRViewForm.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "GenerateQR.h"

namespace {
constexpr int kCodeSide = 240;
}

QRViewForm::QRViewForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog), code_(new QLabel(this)), addresses_(new QLabel(this)) {
  setObjectName(QStringLiteral("qrViewForm"));
  setWindowTitle(QStringLiteral("手机助手"));
  setWindowModality(Qt::NonModal);
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(
      QStringLiteral("#qrViewForm { background: #ffffff; border: 1px solid #bdc1c6; }"
                     "QLabel#qrHint { color: #202124; font-size: 15px; }"
                     "QLabel#qrAddresses { color: #5f6368; }"));

  auto* hint = new QLabel(QStringLiteral("请使用“塔维手机助手”扫描二维码"), this);
  hint->setObjectName(QStringLiteral("qrHint"));
  hint->setAlignment(Qt::AlignCenter);
  code_->setObjectName(QStringLiteral("qrCode"));
  code_->setAlignment(Qt::AlignCenter);
  code_->setFixedSize(kCodeSide + 20, kCodeSide + 20);
  addresses_->setObjectName(QStringLiteral("qrAddresses"));
  addresses_->setAlignment(Qt::AlignCenter);
  addresses_->setTextFormat(Qt::PlainText);
  addresses_->setWordWrap(true);
  addresses_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 20);
  layout->setSpacing(12);
  layout->addWidget(hint);
  layout->addWidget(code_, 0, Qt::AlignHCenter);
  layout->addWidget(addresses_);
  setFixedWidth(kCodeSide + 80);
}

void QRViewForm::setText(const QString& text, const QString& addresses) {
  text_ = text;
  addresses_->setText(QStringLiteral("电脑地址：%1").arg(addresses));
  code_->clear();
  const int generation = ++generation_;
  auto* generator = new GenerateQR(text, kCodeSide);
  // Only the newest code is shown, however the threads finish.
  connect(generator, &GenerateQR::signal_QRImage, this, [this, generation](const QImage& image) {
    if (generation == generation_)
      onQRImage(image);
  });
  generator->start();
}

void QRViewForm::onQRImage(const QImage& image) {
  code_->setPixmap(QPixmap::fromImage(image));
}
