#include "PairingPage.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QVBoxLayout>

#include "QrReader.h"

PairingPage::PairingPage(QWidget* parent)
    : QWidget(parent),
      edit_(new QLineEdit(this)),
      scan_(new QPushButton(QStringLiteral("识别二维码图片"), this)),
      connect_(new QPushButton(QStringLiteral("连接"), this)),
      status_(new QLabel(this)) {
  setObjectName(QStringLiteral("pairingPage"));
  auto* title = new QLabel(QStringLiteral("塔维手机助手"), this);
  title->setObjectName(QStringLiteral("title"));
  title->setAlignment(Qt::AlignCenter);
  auto* hint = new QLabel(
      QStringLiteral("在电脑的课堂中选择“手机助手”，\n扫描屏幕上的二维码即可配对。"), this);
  hint->setObjectName(QStringLiteral("hint"));
  hint->setWordWrap(true);
  hint->setAlignment(Qt::AlignCenter);
  auto* or_ = new QLabel(QStringLiteral("或输入二维码中的文字"), this);
  or_->setObjectName(QStringLiteral("hint"));
  edit_->setPlaceholderText(QStringLiteral("地址:端口:配对码"));
  edit_->setClearButtonEnabled(true);
  scan_->setObjectName(QStringLiteral("primaryButton"));
  connect_->setObjectName(QStringLiteral("connectButton"));
  status_->setObjectName(QStringLiteral("pairingStatus"));
  status_->setWordWrap(true);
  status_->setAlignment(Qt::AlignCenter);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 60, 28, 28);
  layout->setSpacing(16);
  layout->addWidget(title);
  layout->addWidget(hint);
  layout->addSpacing(24);
  layout->addWidget(scan_);
  layout->addSpacing(12);
  layout->addWidget(or_);
  layout->addWidget(edit_);
  layout->addWidget(connect_);
  layout->addWidget(status_);
  layout->addStretch(1);

  connect(scan_, &QPushButton::clicked, this, &PairingPage::scanQrPicture);
  connect(connect_, &QPushButton::clicked, this, [this] { emit pairRequested(edit_->text()); });
  connect(edit_, &QLineEdit::returnPressed, connect_, &QPushButton::click);
}

void PairingPage::setStatus(const QString& text, bool error) {
  status_->setText(text);
  status_->setProperty("error", error);
  status_->style()->unpolish(status_);
  status_->style()->polish(status_);
}

QString PairingPage::status() const {
  return status_->text();
}

void PairingPage::setBusy(bool busy) {
  scan_->setEnabled(!busy);
  connect_->setEnabled(!busy);
}

void PairingPage::scanQrPicture() {
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("选择二维码图片"),
      QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
      QStringLiteral("图片 (*.png *.jpg *.jpeg *.bmp)"));
  if (path.isEmpty())
    return;
  QString error;
  const QString text = QrReader::readFile(path, &error);
  if (text.isEmpty()) {
    setStatus(error, true);
    return;
  }
  edit_->setText(text);
  emit pairRequested(text);
}
