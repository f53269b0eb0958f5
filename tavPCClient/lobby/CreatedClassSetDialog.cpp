#include "CreatedClassSetDialog.h"
#include "RoomMessage.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "AccountStore.h"
#include "FormBody.h"
#include "HttpRequest.h"
#include "Prompt.h"
#include "ServiceApi.h"
#include "WndDragFilter.h"

namespace {
QLabel* sectionTitle(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QStringLiteral("sectionTitle"));
  return label;
}

}  // namespace

CreatedClassSetDialog::CreatedClassSetDialog(quint32 userId, quint32 roomId, int openStyle,
                                             const QString& authCode, const QString& recordingArea,
                                             QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      userId_(userId),
      roomId_(roomId),
      buyFirst_(new QRadioButton(QStringLiteral("购买课程后才能进入"), this)),
      private_(new QRadioButton(QStringLiteral("私密教室"), this)),
      code_(new QLineEdit(authCode, this)),
      contentAndVideo_(new QRadioButton(QStringLiteral("录制“教学内容区”+“多路视频区”"), this)),
      contentOnly_(new QRadioButton(QStringLiteral("仅录制“教学内容区”"), this)) {
  setObjectName(QStringLiteral("CreatedClassSetDialog"));
  setAttribute(Qt::WA_StyledBackground);
  setModal(true);
  setMinimumWidth(460);
  installEventFilter(new WndDragFilter(this));

  auto* title = new QLabel(QStringLiteral("教室权限设置"), this);
  title->setObjectName(QStringLiteral("msgTitle"));
  auto* close = new QPushButton(QStringLiteral("×"), this);
  close->setObjectName(QStringLiteral("titleClose"));
  close->setFocusPolicy(Qt::NoFocus);
  auto* titleRow = new QHBoxLayout;
  titleRow->addWidget(title);
  titleRow->addStretch();
  titleRow->addWidget(close);

  auto* entryGroup = new QButtonGroup(this);
  entryGroup->addButton(buyFirst_);
  entryGroup->addButton(private_);
  (openStyle == 2 ? private_ : buyFirst_)->setChecked(true);
  code_->setPlaceholderText(QStringLiteral("1-6位授权码"));
  code_->setMaxLength(32);
  code_->setEnabled(openStyle == 2);
  connect(private_, &QRadioButton::toggled, code_, &QLineEdit::setEnabled);
  auto* privateRow = new QHBoxLayout;
  privateRow->addWidget(private_);
  privateRow->addWidget(new QLabel(QStringLiteral("授权码："), this));
  privateRow->addWidget(code_, 1);

  auto* areaGroup = new QButtonGroup(this);
  areaGroup->addButton(contentAndVideo_);
  areaGroup->addButton(contentOnly_);
  (recordingArea == QLatin1String("contentArea") ? contentOnly_ : contentAndVideo_)
      ->setChecked(true);

  auto* assistants = new QGridLayout;
  for (int i = 0; i < kMaxAssistants; ++i) {
    assistantNames_[i] = new QLabel(QStringLiteral("（无）"), this);
    revoke_[i] = new QPushButton(QStringLiteral("撤销"), this);
    revoke_[i]->setObjectName(QStringLiteral("linkButton"));
    revoke_[i]->setEnabled(false);
    assistants->addWidget(assistantNames_[i], i, 0);
    assistants->addWidget(revoke_[i], i, 1);
  }
  connect(revoke_[0], &QPushButton::clicked, this, &CreatedClassSetDialog::slot_PButtonRevoke1);
  connect(revoke_[1], &QPushButton::clicked, this, &CreatedClassSetDialog::slot_PButtonRevoke2);

  auto* save = new QPushButton(QStringLiteral("保存"), this);
  save->setObjectName(QStringLiteral("primaryButton"));
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  cancel->setObjectName(QStringLiteral("secondaryButton"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save);
  buttons->addWidget(cancel);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 8, 20, 20);
  layout->setSpacing(10);
  layout->addLayout(titleRow);
  layout->addWidget(sectionTitle(QStringLiteral("进入方式"), this));
  layout->addWidget(buyFirst_);
  layout->addLayout(privateRow);
  layout->addWidget(sectionTitle(QStringLiteral("录制区域"), this));
  layout->addWidget(contentAndVideo_);
  layout->addWidget(contentOnly_);
  layout->addWidget(sectionTitle(QStringLiteral("助教"), this));
  layout->addLayout(assistants);
  layout->addWidget(sectionTitle(QStringLiteral("学员评价"), this));
  evaluation_ = new QLabel(QStringLiteral("正在读取评价..."), this);
  evaluation_->setObjectName(QStringLiteral("evaluationSummary"));
  evaluation_->setTextFormat(Qt::PlainText);  // comments are other users' text
  evaluation_->setWordWrap(true);
  layout->addWidget(evaluation_);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  connect(save, &QPushButton::clicked, this, &CreatedClassSetDialog::slot_ButtonSave);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* summary = new HttpRequest;
  connect(summary, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          &CreatedClassSetDialog::slot_GetEvaluationSummary_reply);
  summary->request(HttpRequest::serviceUrl(ServiceApi::kFindEvaluationSummary.path),
                   FormBody(ServiceApi::kFindEvaluationSummary.body).arg(roomId_),
                   HttpRequest::kJson);

  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonArray>(&HttpRequest::requestFinshed), this,
          &CreatedClassSetDialog::slot_GetAssistants_reply);
  request->request(HttpRequest::serviceUrl(ServiceApi::kFindManageById.path),
                   FormBody(ServiceApi::kFindManageById.body).arg(roomId_), HttpRequest::kJson);
}

int CreatedClassSetDialog::openStyle() const {
  return private_->isChecked() ? 2 : 1;
}

QString CreatedClassSetDialog::authCode() const {
  return code_->text();
}

QString CreatedClassSetDialog::recordingArea() const {
  return contentOnly_->isChecked() ? QStringLiteral("contentArea")
                                   : QStringLiteral("contentAndVideoArea");
}

void CreatedClassSetDialog::slot_GetAssistants_reply(QJsonArray assistants) {
  for (int i = 0; i < kMaxAssistants; ++i) {
    const QJsonObject a = assistants.at(i).toObject();
    assistantIds_[i] = roommsg::userIdOf(a.value(QLatin1String("globalId"))).value_or(0);
    const QString name = a.value(QLatin1String("nickName")).toString();
    assistantNames_[i]->setText(assistantIds_[i]
                                    ? (name.isEmpty() ? QString::number(assistantIds_[i]) : name)
                                    : QStringLiteral("（无）"));
    revoke_[i]->setEnabled(assistantIds_[i] != 0);
  }
}

void CreatedClassSetDialog::slot_PButtonRevoke1() {
  revoke(0);
}

void CreatedClassSetDialog::slot_PButtonRevoke2() {
  revoke(1);
}

void CreatedClassSetDialog::revoke(int slot) {
  if (!assistantIds_[slot])
    return;
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          [this, slot](const QJsonObject& answer) { onRevokeReply(slot, answer); });
  request->request(HttpRequest::serviceUrl(ServiceApi::kRemoveManagePC.path),
                   FormBody(ServiceApi::kRemoveManagePC.body).arg(roomId_).arg(assistantIds_[slot]),
                   HttpRequest::kJson);
  revoke_[slot]->setEnabled(false);
}

void CreatedClassSetDialog::onRevokeReply(int slot, const QJsonObject& answer) {
  if (answer.isEmpty()) {
    Prompt::instance()->showMessage(this, QStringLiteral("操作失败！请检查网络！"));
    revoke_[slot]->setEnabled(true);
    return;
  }
  if (answer.value(QLatin1String("code")).toInt(-1) != 0) {
    Prompt::instance()->showMessage(
        this,
        QStringLiteral("撤销助教失败！%1").arg(answer.value(QLatin1String("msg")).toString()));
    revoke_[slot]->setEnabled(true);
    return;
  }
  assistantIds_[slot] = 0;
  assistantNames_[slot]->setText(QStringLiteral("（无）"));
}

void CreatedClassSetDialog::slot_ButtonSave() {
  const QString code = code_->text();
  if (private_->isChecked() && (code.isEmpty() || code.size() > 6)) {
    Prompt::instance()->showMessage(this, QStringLiteral("授权码不合要求！"));
    return;
  }
  AccountStore::writeRoomSetting(userId_, roomId_, recordingArea());
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          &CreatedClassSetDialog::slot_SetClassAuthorize_reply);
  const QString body =
      private_->isChecked()
          ? FormBody(ServiceApi::kUpdateRoomPrivate.body).arg(roomId_).arg(code).toString()
          : FormBody(ServiceApi::kUpdateRoomPublic.body).arg(roomId_).toString();
  request->request(HttpRequest::serviceUrl(ServiceApi::kUpdateRoomPublic.path), body,
                   HttpRequest::kJson);
}

void CreatedClassSetDialog::slot_SetClassAuthorize_reply(QJsonObject answer) {
  if (answer.isEmpty()) {
    Prompt::instance()->showMessage(this, QStringLiteral("操作失败！请检查网络！"));
    return;
  }
  if (answer.value(QLatin1String("code")).toInt(-1) != 0) {
    Prompt::instance()->showMessage(this, answer.value(QLatin1String("msg")).toString());
    return;
  }
  accept();
}

void CreatedClassSetDialog::slot_GetEvaluationSummary_reply(QJsonObject answer) {
  if (answer.isEmpty() || answer.value(QLatin1String("code")).toInt(-1) != 0) {
    evaluation_->setText(QStringLiteral("暂时无法读取评价"));
    return;
  }
  const QJsonObject body = answer.value(QLatin1String("body")).toObject();
  const int count = body.value(QLatin1String("count")).toInt();
  if (count == 0) {
    evaluation_->setText(QStringLiteral("暂无评价"));
    return;
  }
  QStringList lines;
  lines << QStringLiteral("共%1条评价，平均%2分")
               .arg(count)
               .arg(QString::number(body.value(QLatin1String("mean")).toDouble(), 'f', 1));
  for (const QJsonValue& value : body.value(QLatin1String("latest")).toArray()) {
    const QJsonObject one = value.toObject();
    const QString comment = one.value(QLatin1String("content")).toString();
    lines << QStringLiteral("%1分  %2")
                 .arg(QString::number(one.value(QLatin1String("score")).toInt()),
                      comment.isEmpty() ? QStringLiteral("（无文字）") : comment);
  }
  evaluation_->setText(lines.join(QLatin1Char('\n')));
}

QString CreatedClassSetDialog::evaluationText() const {
  return evaluation_->text();
}
