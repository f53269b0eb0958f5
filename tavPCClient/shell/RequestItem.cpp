#include "RequestItem.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char kStyle[] = R"(
QFrame#requestItem { background: #2f353d; border: 1px solid #3c434c; border-radius: 6px; }
QLabel#appName { color: #e8eaed; font-size: 14px; }
QLabel#appText { color: #9aa0a6; font-size: 12px; }
QPushButton { color: #e8eaed; background: #2f353d; border: 1px solid #3c434c;
  border-radius: 4px; padding: 4px 12px; font-size: 13px; }
QPushButton:hover { background: #3a414a; }
QPushButton#btnAgree { background: #1a73e8; border-color: #1a73e8; }
QPushButton:disabled, QPushButton#btnAgree:disabled { color: #9aa0a6; background: #3a414a;
  border-color: #3c434c; }
)";

QLabel* plainLabel(const QString& text, const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  // Names are chosen by other members: shown as typed, never as rich text.
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  return label;
}

}  // namespace

RequestItem::RequestItem(quint32 userId, const QString& displayName, const QString& request,
                         QWidget* parent)
    : QFrame(parent),
      userId_(userId),
      agree_(new QPushButton(QStringLiteral("同意"), this)),
      refuse_(new QPushButton(QStringLiteral("拒绝"), this)) {
  setObjectName(QStringLiteral("requestItem"));
  setStyleSheet(QString::fromUtf8(kStyle));

  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  QLabel* name = plainLabel(displayName, "appName", this);
  // A long name is cut rather than widening the list.
  name->setMinimumWidth(80);
  name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  texts->addWidget(name);
  texts->addWidget(plainLabel(request, "appText", this));

  agree_->setObjectName(QStringLiteral("btnAgree"));
  refuse_->setObjectName(QStringLiteral("btnRefuse"));
  agree_->setCursor(Qt::PointingHandCursor);
  refuse_->setCursor(Qt::PointingHandCursor);
  connect(agree_, &QPushButton::clicked, this, [this] { emit answered(1); });
  connect(refuse_, &QPushButton::clicked, this, [this] { emit answered(2); });

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(10, 8, 10, 8);
  layout->setSpacing(8);
  layout->addLayout(texts, 1);
  layout->addWidget(agree_);
  layout->addWidget(refuse_);
}

void RequestItem::setSending() {
  agree_->setText(QStringLiteral("发送中..."));
  agree_->setEnabled(false);
  refuse_->setEnabled(false);
}

void RequestItem::setAnswerable() {
  agree_->setText(QStringLiteral("同意"));
  agree_->setEnabled(true);
  refuse_->setEnabled(true);
}
