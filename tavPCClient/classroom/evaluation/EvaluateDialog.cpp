#include "EvaluateDialog.h"

#include <algorithm>

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "Prompt.h"
#include "WndDragFilter.h"

namespace {

const char kStyle[] = R"(
#EvaluateDialog { background: #ffffff; border: 1px solid #dadce0; }
QLabel#evaluateTitle { font-size: 16px; font-weight: bold; color: #202124; }
QLabel#evaluateTeacher, QLabel#evaluateAnonymous { color: #5f6368; }
QPushButton[score="true"] { color: #202124; background: #ffffff; border: 1px solid #dadce0;
  border-radius: 4px; padding: 6px 8px; }
QPushButton[score="true"]:checked { color: #ffffff; background: #1a73e8; border-color: #1a73e8; }
QPushButton#btnSubmit { color: #ffffff; background: #1a73e8; border: none; border-radius: 4px;
  padding: 6px 20px; }
QPushButton#btnSubmit:disabled { background: #9aa0a6; }
QPushButton#btnCancel { color: #202124; background: #f1f3f4; border: none; border-radius: 4px;
  padding: 6px 20px; }
)";

// Characters as the reader counts them (a character outside the basic plane is one).
int characters(const QString& text) {
  return text.toUcs4().size();
}

}  // namespace

EvaluateDialog::EvaluateDialog(const QString& teacherName, int uId, int uRole, int tId, int tRole,
                               int roomId, QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog),
      uId_(uId),
      uRole_(uRole),
      tId_(tId),
      tRole_(tRole),
      roomId_(roomId),
      scores_(new QButtonGroup(this)),
      comment_(new QPlainTextEdit(this)),
      counter_(new QLabel(this)),
      submit_(new QPushButton(QStringLiteral("提交"), this)),
      selfReject_(new QTimer(this)) {
  setObjectName(QStringLiteral("EvaluateDialog"));
  setWindowTitle(QStringLiteral("塔维网"));
  setStyleSheet(QString::fromUtf8(kStyle));
  installEventFilter(new WndDragFilter(this));

  auto* title = new QLabel(QStringLiteral("评价"), this);
  title->setObjectName(QStringLiteral("evaluateTitle"));
  auto* teacher = new QLabel(QStringLiteral("上课讲师：") + teacherName, this);
  teacher->setObjectName(QStringLiteral("evaluateTeacher"));
  teacher->setTextFormat(Qt::PlainText);
  teacher->setWordWrap(true);
  auto* anonymous = new QLabel(QStringLiteral("匿名评价"), this);
  anonymous->setObjectName(QStringLiteral("evaluateAnonymous"));

  // Exclusive: one checked at a time, and the slot of each keeps the score.
  scores_->setExclusive(true);
  struct Choice {
    const char* caption;
    const char* name;
    void (EvaluateDialog::*slot)();
  };
  const Choice choices[] = {
      {"非常差【20】", "btnVeryLow", &EvaluateDialog::slot_ButtonVeryLow},
      {"差【40】", "btnLow", &EvaluateDialog::slot_ButtonLow},
      {"较满意【60】", "btnSomeSatisfied", &EvaluateDialog::slot_ButtonSomeSatisfied},
      {"满意【80】", "btnSatisfied", &EvaluateDialog::slot_ButtonSatisfied},
      {"非常满意【100】", "btnVerySatisfied", &EvaluateDialog::slot_ButtonVerySatisfied},
  };
  auto* scoreRow = new QHBoxLayout;
  for (const Choice& choice : choices) {
    auto* button = new QPushButton(QString::fromUtf8(choice.caption), this);
    button->setObjectName(QString::fromLatin1(choice.name));
    button->setProperty("score", true);
    button->setCheckable(true);
    button->setCursor(Qt::PointingHandCursor);
    scores_->addButton(button);
    connect(button, &QPushButton::clicked, this, choice.slot);
    scoreRow->addWidget(button);
  }

  comment_->setObjectName(QStringLiteral("evaluateComment"));
  comment_->setPlaceholderText(QStringLiteral("说说你对老师的评价（选填）"));
  comment_->setFixedHeight(110);
  counter_->setObjectName(QStringLiteral("evaluateCounter"));
  connect(comment_, &QPlainTextEdit::textChanged, this, &EvaluateDialog::slot_textChanged);

  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  cancel->setObjectName(QStringLiteral("btnCancel"));
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  submit_->setObjectName(QStringLiteral("btnSubmit"));
  connect(submit_, &QPushButton::clicked, this, &EvaluateDialog::slot_ButtonSubmit);

  auto* head = new QHBoxLayout;
  head->addWidget(title);
  head->addStretch(1);
  head->addWidget(anonymous);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel);
  buttons->addWidget(submit_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 16, 20, 16);
  layout->setSpacing(12);
  layout->addLayout(head);
  layout->addWidget(teacher);
  layout->addLayout(scoreRow);
  layout->addWidget(comment_);
  layout->addWidget(counter_);
  layout->addLayout(buttons);
  // As wide as the five captions need in the style they are drawn with, never narrower than
  // the usual 520 px, so no caption is cut off whatever the font.
  for (QAbstractButton* button : scores_->buttons())
    button->ensurePolished();
  const QMargins margins = layout->contentsMargins();
  setFixedWidth(std::max(520, scoreRow->sizeHint().width() + margins.left() + margins.right()));

  slot_textChanged();

  selfReject_->setObjectName(QStringLiteral("selfRejectTimer"));
  selfReject_->setSingleShot(true);
  connect(selfReject_, &QTimer::timeout, this, &QDialog::reject);
  selfReject_->start(kSelfRejectMs);
}

void EvaluateDialog::setSelfRejectInterval(int ms) {
  selfReject_->start(ms);
}

void EvaluateDialog::choose(int score) {
  score_ = score;
  // The group keeps the others unchecked; a programmatic choice checks its button too.
  const int index = score / 20 - 1;
  const QList<QAbstractButton*> buttons = scores_->buttons();
  if (index >= 0 && index < buttons.size())
    buttons.at(index)->setChecked(true);
}

void EvaluateDialog::slot_ButtonVeryLow() {
  choose(20);
}
void EvaluateDialog::slot_ButtonLow() {
  choose(40);
}
void EvaluateDialog::slot_ButtonSomeSatisfied() {
  choose(60);
}
void EvaluateDialog::slot_ButtonSatisfied() {
  choose(80);
}
void EvaluateDialog::slot_ButtonVerySatisfied() {
  choose(100);
}

void EvaluateDialog::slot_textChanged() {
  const int n = characters(comment_->toPlainText());
  if (n <= kMaxComment) {
    counter_->setText(
        QStringLiteral("当前已输入%1个字符，你还可以输入%2个字符。").arg(n).arg(kMaxComment - n));
    counter_->setStyleSheet(QStringLiteral("color: black;"));
    submit_->setEnabled(!finishing_);
  } else {
    counter_->setText(QStringLiteral("当前已输入%1个字符，超出范围。").arg(n));
    counter_->setStyleSheet(QStringLiteral("color: red;"));
    submit_->setEnabled(false);
  }
}

QByteArray EvaluateDialog::param() const {
  // Keys in this order; QJsonObject would sort them.
  QByteArray text = "{";
  auto number = [&text](const char* key, int value, bool comma = true) {
    text += '"';
    text += key;
    text += "\":";
    text += QByteArray::number(value);
    if (comma)
      text += ',';
  };
  number("uId", uId_);
  number("uRole", uRole_);
  number("tId", tId_);
  number("tRole", tRole_);
  number("roomId", roomId_);
  number("score", score_);
  // The comment as a JSON string, escaped by the JSON writer itself.
  QByteArray content =
      QJsonDocument(QJsonArray{comment_->toPlainText()}).toJson(QJsonDocument::Compact);
  content = content.mid(1, content.size() - 2);
  text += "\"content\":" + content + '}';
  return text;
}

void EvaluateDialog::slot_ButtonSubmit() {
  if (finishing_)
    return;
  if (score_ == 0) {
    Prompt::instance()->showMessage(this, QStringLiteral("请为老师打分！"));
    return;
  }
  if (characters(comment_->toPlainText()) > kMaxComment)
    return;
  // One rating: no second request while this one is answered.
  submit_->setEnabled(false);
  emit submitRequested(param());
}

void EvaluateDialog::slot_evaluate_reply(QJsonObject reply) {
  if (reply.isEmpty()) {
    Prompt::instance()->showMessage(this, QStringLiteral("当前网络不给力，评价失败！"));
    finishLater(false);
  } else if (reply.value(QStringLiteral("code")).toInt(-1) != 0) {
    Prompt::instance()->showMessage(this, reply.value(QStringLiteral("msg")).toString());
    finishLater(false);
  } else {
    Prompt::instance()->showMessage(this, QStringLiteral("评价成功！"));
    finishLater(true);
  }
}

void EvaluateDialog::finishLater(bool accepted) {
  finishing_ = true;
  submit_->setEnabled(false);
  QTimer::singleShot(kCloseAfterReplyMs, this, accepted ? &QDialog::accept : &QDialog::reject);
}
