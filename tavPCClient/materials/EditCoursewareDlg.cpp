#include "EditCoursewareDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "CoursewareRules.h"
#include "FormBody.h"
#include "ServiceApi.h"

EditCoursewareDlg::EditCoursewareDlg(ClassroomContext& context, int id, const QString& name,
                                     int price, const QString& summary, QWidget* parent)
    : QDialog(parent),
      context_(context),
      id_(id),
      name_(new QLineEdit(name, this)),
      price_(new QLineEdit(QString::number(price), this)),
      summary_(new QLineEdit(summary, this)),
      ok_(new QPushButton(QStringLiteral("确定"), this)) {
  setObjectName(QStringLiteral("EditCoursewareDlg"));
  setWindowTitle(QStringLiteral("编辑课件"));
  setMinimumWidth(360);
  name_->setObjectName(QStringLiteral("editCoursewareName"));
  price_->setObjectName(QStringLiteral("editCoursewarePrice"));
  price_->setPlaceholderText(QStringLiteral("输入0及以上的整数(0豆直接观看)"));
  summary_->setObjectName(QStringLiteral("editCoursewareSummary"));
  ok_->setObjectName(QStringLiteral("btnEditOk"));
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  cancel->setObjectName(QStringLiteral("btnEditCancel"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("课件名称："), name_);
  form->addRow(QStringLiteral("价格（星豆）："), price_);
  form->addRow(QStringLiteral("课件要点："), summary_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  connect(ok_, &QPushButton::clicked, this, &EditCoursewareDlg::btnOk_clicked);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString EditCoursewareDlg::name() const {
  return name_->text().trimmed();
}

QString EditCoursewareDlg::summary() const {
  return summary_->text();
}

void EditCoursewareDlg::btnOk_clicked() {
  int price = 0;
  refusal_ = courseware::editRefusal(name(), summary(), price_->text(), &price);
  if (!refusal_.isEmpty()) {
    context_.toast(refusal_);
    return;
  }
  sentPrice_ = price;
  ok_->setEnabled(false);  // one request at a time
  context_.service().post(ServiceApi::kUpdateRoomCourseware,
                          FormBody(ServiceApi::kUpdateRoomCourseware.body)
                              .arg(id_)
                              .arg(name())
                              .arg(price)
                              .arg(summary()),
                          this, [this](QJsonObject answer) { onUpdateBack(answer); });
}

void EditCoursewareDlg::onUpdateBack(QJsonObject answer) {
  ok_->setEnabled(true);
  const QJsonValue code = answer.value(QStringLiteral("code"));
  const bool ok = !answer.isEmpty() && (code.isUndefined() || code.toInt(-1) == 0);
  context_.toast(ok ? QStringLiteral("修改成功！") : QStringLiteral("修改失败！"));
  if (ok)
    accept();
  else
    reject();
}
