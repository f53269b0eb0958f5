#include "CoursewareList.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonValue>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "BuyCoursewareDlg.h"
#include "ClassroomContext.h"
#include "CoursewareItem.h"
#include "CoursewarePlayer.h"
#include "EditCoursewareDlg.h"
#include "FormBody.h"
#include "LoginInfo.h"
#include "RoomMember.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "ServiceApi.h"
#include "UploadCoursewareDlg.h"

namespace {

bool succeeded(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  return !answer.isEmpty() && (code.isUndefined() || code.isNull() || code.toInt(-1) == 0);
}

bool truthy(const QJsonValue& v) {
  if (v.isBool())
    return v.toBool();
  if (v.isDouble())
    return v.toInt() != 0;
  if (v.isString())
    return v.toString() == QLatin1String("1") || v.toString() == QLatin1String("true");
  return false;
}

}  // namespace

CoursewareList::CoursewareList(ClassroomContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      rows_(new QVBoxLayout),
      empty_(new QLabel(QStringLiteral("无更多历史课件了"), this)),
      pageLabel_(new QLabel(this)) {
  setObjectName(QStringLiteral("coursewareList"));
  auto* title = new QLabel(QStringLiteral("课件"), this);
  title->setObjectName(QStringLiteral("coursewareTitle"));
  empty_->setObjectName(QStringLiteral("coursewareEmpty"));
  empty_->setAlignment(Qt::AlignCenter);
  empty_->hide();
  pageLabel_->setObjectName(QStringLiteral("coursewarePage"));
  auto* previous = new QPushButton(QStringLiteral("上一页"), this);
  previous->setObjectName(QStringLiteral("btnPrevPage"));
  auto* next = new QPushButton(QStringLiteral("下一页"), this);
  next->setObjectName(QStringLiteral("btnNextPage"));
  auto* head = new QHBoxLayout;
  head->setContentsMargins(8, 6, 8, 6);
  head->addWidget(title, 1);
  auto* foot = new QHBoxLayout;
  foot->setContentsMargins(8, 4, 8, 4);
  foot->addWidget(previous);
  foot->addStretch(1);
  foot->addWidget(pageLabel_);
  foot->addStretch(1);
  foot->addWidget(next);
  rows_->setSpacing(0);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(head);
  layout->addLayout(rows_);
  layout->addWidget(empty_);
  layout->addStretch(1);
  layout->addLayout(foot);
  connect(previous, &QPushButton::clicked, this, &CoursewareList::btnPrevPage_clicked);
  connect(next, &QPushButton::clicked, this, &CoursewareList::btnNextPage_clicked);

  runDialog_ = [](QDialog& dialog) { return dialog.exec(); };
  context_.handleRoomMessages({MSG_COURSEWARE_STATUS}, this,
                              [this](const QJsonObject& msg) { onRoomMessage(msg); });
  context_.provide<CoursewarePublishing>(this);
  request();
}

CoursewareList::~CoursewareList() {
  context_.withdraw<CoursewarePublishing>(this);
}

QDialog* CoursewareList::publishingDialog(centra* recorder, QWidget* parent) {
  return new UploadCoursewareDlg(context_, recorder, parent);
}

QList<CoursewareItem*> CoursewareList::items() const {
  QList<CoursewareItem*> out;
  for (int i = 0; i < rows_->count(); ++i)
    if (auto* item = qobject_cast<CoursewareItem*>(rows_->itemAt(i)->widget()))
      out << item;
  return out;
}

QString CoursewareList::pageText() const {
  return pageLabel_->text();
}

QString CoursewareList::emptyText() const {
  return empty_->isVisibleTo(this) ? empty_->text() : QString();
}

void CoursewareList::reload() {
  request();
}

void CoursewareList::request() {
  // Only the newest request's answer is shown: an older one, arriving late,
  // would bring back rows deleted or pages left since.
  const quint64 serial = ++requestSerial_;
  context_.service().post(ServiceApi::kFindCoursewareByRoomId,
                          FormBody(ServiceApi::kFindCoursewareByRoomId.body)
                              .arg(context_.roomId())
                              .arg(kRowsPerPage)
                              .arg(page_)
                              .arg(context_.ownUserId()),
                          this, [this, serial](QJsonObject answer) {
                            if (serial == requestSerial_)
                              onGetCoursewares(answer);
                          });
}

void CoursewareList::btnPrevPage_clicked() {
  if (page_ <= 1) {
    context_.toast(QStringLiteral("已经是第一页了"));
    return;
  }
  --page_;
  request();
}

void CoursewareList::btnNextPage_clicked() {
  ++page_;
  request();
}

void CoursewareList::onGetCoursewares(QJsonObject answer) {
  if (!succeeded(answer)) {
    // The page asked for is not shown: the counter goes back to the one that is.
    if (shownPage_ > 0)
      page_ = shownPage_;
    return;
  }
  totalPages_ = answer.value(QStringLiteral("totalPages")).toInt();
  const QJsonArray rows = answer.value(QStringLiteral("rows")).toArray();
  if (page_ > 1 && (page_ > totalPages_ || rows.isEmpty())) {
    context_.toast(QStringLiteral("已经是最后一页了"));
    page_ = shownPage_ > 0 ? shownPage_ : 1;
    return;
  }
  for (CoursewareItem* item : items()) {
    rows_->removeWidget(item);
    item->hide();
    item->deleteLater();
  }
  const bool manager = context_.session().hasTeacherRights();
  for (const QJsonValue& value : rows) {
    auto* item = new CoursewareItem(value.toObject(), this);
    item->setManageable(manager);
    connect(item, &CoursewareItem::watchCourseware, this, &CoursewareList::onWatchCourseware);
    connect(item, &CoursewareItem::editCourseware, this, &CoursewareList::onEditCourseware);
    connect(item, &CoursewareItem::deleteCourseware, this, &CoursewareList::onDeleteCourseware);
    rows_->addWidget(item);
  }
  shownPage_ = page_;
  empty_->setVisible(rows.isEmpty());
  pageLabel_->setText(QStringLiteral("第%1页 / 共%2页").arg(page_).arg(qMax(totalPages_, 1)));
}

// ---- watching ----

void CoursewareList::onWatchCourseware(CoursewareItem* item) {
  if (!item)
    return;
  context_.service().post(
      ServiceApi::kCoursewareFindById,
      FormBody(ServiceApi::kCoursewareFindById.body).arg(item->id()).arg(context_.ownUserId()),
      this, [this](QJsonObject answer) { onFindById(answer); });
}

void CoursewareList::onFindById(QJsonObject answer) {
  if (!succeeded(answer)) {
    context_.toast(answer.isEmpty() ? QStringLiteral("网络异常，请检查网络后重试！")
                                    : answer.value(QStringLiteral("msg")).toString());
    return;
  }
  QJsonObject record = answer.value(QStringLiteral("body")).toObject();
  for (const char* key : {"isPurchase", "purchase", "price", "id", "coursewareName", "filePath"})
    if (!record.contains(QLatin1String(key)) && answer.contains(QLatin1String(key)))
      record.insert(QLatin1String(key), answer.value(QLatin1String(key)));
  const bool bought = truthy(record.value(QStringLiteral("isPurchase"))) ||
                      truthy(record.value(QStringLiteral("purchase")));
  const int price = record.value(QStringLiteral("price")).toVariant().toInt();
  // Inspectors watch every courseware without buying it.
  const bool inspector = LoginInfo::current().roleName == QStringLiteral("巡管");
  if (bought || price <= 0 || inspector) {
    play(record);
    return;
  }
  BuyCoursewareDlg buy(context_, record.value(QStringLiteral("id")).toVariant().toInt(), price,
                       context_.window());
  if (runDialog_(buy) == QDialog::Accepted)
    play(record);
}

void CoursewareList::play(const QJsonObject& record) {
  if (CoursewarePlayer* player = context_.find<CoursewarePlayer>()) {
    player->playCourseware(record);
    return;
  }
  context_.toast(QStringLiteral("课件播放窗口暂未开放，暂时无法观看课件！"));
}

// ---- the teacher's side ----

void CoursewareList::onEditCourseware(CoursewareItem* item) {
  if (!item || !context_.session().hasTeacherRights())
    return;
  EditCoursewareDlg edit(context_, item->id(), item->name(), item->price(), item->summary(),
                         context_.window());
  if (runDialog_(edit) == QDialog::Accepted)
    item->update(edit.name(), edit.price(), edit.summary());
}

void CoursewareList::onDeleteCourseware(CoursewareItem* item) {
  if (!item || !context_.session().hasTeacherRights())
    return;
  if (!context_.dialogs().confirm(QStringLiteral("确定要删除该课件吗吗?")))
    return;
  const int id = item->id();
  context_.service().post(ServiceApi::kDeleteCourseware,
                          FormBody(ServiceApi::kDeleteCourseware.body).arg(id), this,
                          [this, id](QJsonObject answer) {
                            if (!succeeded(answer)) {
                              context_.toast(QStringLiteral("删除课件失败！"));
                              return;
                            }
                            context_.toast(QStringLiteral("删除课件成功！"));
                            for (CoursewareItem* shown : items())
                              if (shown->id() == id) {
                                rows_->removeWidget(shown);
                                shown->hide();
                                shown->deleteLater();
                              }
                            // The page fills up again from the service, which has the delete by
                            // now.
                            request();
                          });
}

void CoursewareList::onRoomMessage(const QJsonObject& msg) {
  const QString name = msg.value(QStringLiteral("coursewareName")).toString();
  context_.toast(QStringLiteral("老师发布了课件《%1》").arg(name));
  reload();
}
