#include "UploadCoursewareDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "CoursewareRules.h"
#include "FormBody.h"
#include "RoomMessageTypes.h"
#include "ServiceApi.h"
#include "libcentra/centra.h"

UploadCoursewareDlg::UploadCoursewareDlg(ClassroomContext& context, centra* recorder,
                                         QWidget* parent)
    : QDialog(parent),
      context_(context),
      recorder_(recorder),
      name_(new QLineEdit(this)),
      price_(new QLineEdit(this)),
      summary_(new QLineEdit(this)),
      grade_(new QLineEdit(this)),
      progress_(new QProgressBar(this)),
      publish_(new QPushButton(QStringLiteral("确认发布"), this)) {
  setObjectName(QStringLiteral("UploadCoursewareDlg"));
  setWindowTitle(QStringLiteral("发布课件"));
  // Wide enough for the price field's whole hint.
  setMinimumWidth(480);
  name_->setObjectName(QStringLiteral("uploadCoursewareName"));
  price_->setObjectName(QStringLiteral("uploadCoursewarePrice"));
  price_->setPlaceholderText(QStringLiteral("默认为5星豆，输入0及以上的整数(0豆直接观看)"));
  summary_->setObjectName(QStringLiteral("uploadCoursewareSummary"));
  grade_->setObjectName(QStringLiteral("uploadCoursewareGrade"));
  progress_->setObjectName(QStringLiteral("uploadProgress"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->hide();
  publish_->setObjectName(QStringLiteral("btnPublish"));
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  cancel->setObjectName(QStringLiteral("btnPublishCancel"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("课件名称："), name_);
  form->addRow(QStringLiteral("价格（星豆）："), price_);
  form->addRow(QStringLiteral("课件要点："), summary_);
  form->addRow(QStringLiteral("年级："), grade_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(publish_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(progress_);
  layout->addLayout(buttons);
  connect(publish_, &QPushButton::clicked, this, &UploadCoursewareDlg::btnPublish_clicked);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void UploadCoursewareDlg::refuse(const QString& text) {
  publish_->setEnabled(true);
  context_.toast(text);
}

void UploadCoursewareDlg::btnPublish_clicked() {
  const QString name = name_->text().trimmed();
  if (name.isEmpty()) {
    refuse(QStringLiteral("请填写课件名称！"));
    return;
  }
  const QString price =
      price_->text().trimmed().isEmpty() ? QString::number(kDefaultPrice) : price_->text();
  const QString refusal = courseware::editRefusal(name, summary_->text(), price, &price_value_);
  if (!refusal.isEmpty()) {
    refuse(refusal);
    return;
  }
  if (grade_->text().size() > 20) {
    refuse(QStringLiteral("年级过长！"));
    return;
  }
  publish_->setEnabled(false);  // one publishing at a time
  context_.service().post(
      ServiceApi::kCoursewareFindByName,
      FormBody(ServiceApi::kCoursewareFindByName.body).arg(context_.roomId()).arg(name), this,
      [this](QJsonObject answer) { onFindByName(answer); });
}

void UploadCoursewareDlg::onFindByName(QJsonObject answer) {
  if (answer.isEmpty()) {
    refuse(QStringLiteral("网络异常，请检查网络后重试！"));
    return;
  }
  if (answer.value(QStringLiteral("code")).toInt(-1) == 0) {
    refuse(QStringLiteral("已存在同名课件！"));
    return;
  }
  tag_ =
      courseware::descriptionTag(context_.roomId(), context_.ownUserId(), name_->text().trimmed(),
                                 price_value_, summary_->text(), grade_->text());
  const QByteArray text = tag_.toUtf8();
  if (!recorder_ || recorder_->upload_record(text.constData(), unsigned(text.size())) != 0) {
    refuse(QStringLiteral("课件上传失败！"));
    return;
  }
  progress_->setValue(0);
  progress_->show();
}

void UploadCoursewareDlg::slot_upload_progress(qint64 held, qint64 total) {
  if (total > 0)
    progress_->setValue(int(held * 100 / total));
}

void UploadCoursewareDlg::slot_record_updated(bool published) {
  if (!published) {
    // The recording part said why; another name may be tried.
    progress_->hide();
    publish_->setEnabled(true);
    return;
  }
  progress_->setValue(100);
  // The room hears of it, and its members' lists are read again.
  QJsonObject notice = context_.ownMessage(MSG_COURSEWARE_STATUS);
  const QString name = name_->text().trimmed();
  notice.insert(QStringLiteral("coursewareName"), name);
  notice.insert(QStringLiteral("coursewareStatus"), QStringLiteral("1"));
  notice.insert(QStringLiteral("content"), QStringLiteral("老师发布了课件《%1》").arg(name));
  context_.sendRoomMsg(notice, QStringLiteral("*"));
  context_.dialogs().inform(QStringLiteral("上传课件成功！"), this);
  accept();
}
