#include "DocumentList.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "DocumentItem.h"
#include "FormBody.h"
#include "RoomMember.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "ServiceApi.h"
#include "SharedArea.h"
#include "UploadingDocDlg.h"

namespace {

bool succeeded(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  return !answer.isEmpty() && (code.isUndefined() || code.isNull() || code.toInt(-1) == 0);
}

int intOf(const QJsonObject& o, const char* key, int fallback = 0) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isString()) {
    bool ok = false;
    const int n = v.toString().toInt(&ok);
    return ok ? n : fallback;
  }
  return v.isDouble() ? v.toInt(fallback) : fallback;
}

}  // namespace

DocumentList::DocumentList(ClassroomContext& context, SharedArea& area, QWidget* parent)
    : QWidget(parent),
      context_(context),
      area_(area),
      rows_(new QVBoxLayout),
      empty_(new QLabel(QStringLiteral("无更多历史教案了"), this)),
      upload_(new QPushButton(QStringLiteral("上传教案"), this)),
      deleteAll_(new QPushButton(QStringLiteral("删除全部"), this)) {
  setObjectName(QStringLiteral("documentList"));
  auto* title = new QLabel(QStringLiteral("教案"), this);
  title->setObjectName(QStringLiteral("documentsTitle"));
  upload_->setObjectName(QStringLiteral("btnUploadDocument"));
  deleteAll_->setObjectName(QStringLiteral("btnDeleteAllDocuments"));
  empty_->setObjectName(QStringLiteral("documentsEmpty"));
  empty_->setAlignment(Qt::AlignCenter);
  auto* head = new QHBoxLayout;
  head->setContentsMargins(8, 6, 8, 6);
  head->addWidget(title, 1);
  head->addWidget(upload_);
  head->addWidget(deleteAll_);

  auto* inner = new QWidget;
  inner->setObjectName(QStringLiteral("documentRows"));
  auto* innerLayout = new QVBoxLayout(inner);
  innerLayout->setContentsMargins(0, 0, 0, 0);
  innerLayout->setSpacing(0);
  rows_->setSpacing(0);
  innerLayout->addLayout(rows_);
  innerLayout->addWidget(empty_);
  innerLayout->addStretch(1);
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidget(inner);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(head);
  layout->addWidget(scroll, 1);

  chooser_ = [this] {
    // Qt separates patterns with spaces.
    return QFileDialog::getOpenFileName(
        context_.window(), QStringLiteral("选择教案文件"), QString(),
        QStringLiteral("教案文件(*.pptx *.docx *.pdf *.ppt *.doc)"));
  };
  connect(upload_, &QPushButton::clicked, this, &DocumentList::btnUploadDocument_clicked);
  connect(deleteAll_, &QPushButton::clicked, this, &DocumentList::onDeleteAllDocumentItem);
  connect(&area_, &SharedArea::sharedDocumentChanged, this, [this](int id) { sharedDoc_ = id; });
  connect(&context_.session(), &RoomSession::rolesChanged, this, &DocumentList::refresh);
  context_.handleRoomMessages({MSG_DOC_DELETED, MSG_DOC_ADDED}, this,
                              [this](const QJsonObject& msg) { onRoomMessage(msg); });

  const QString path = QString::fromLatin1(ServiceApi::kGetSharingInfo.path);
  connect(&context_, &ClassroomContext::startAnswerArrived, this,
          [this, path](const QString& p, const QJsonObject& answer) {
            if (p == path)
              onGetSharingInfo(answer);
          });
  if (!context_.startAnswer(path).isEmpty())
    onGetSharingInfo(context_.startAnswer(path));
  refresh();
}

DocumentList::~DocumentList() {
  delete uploading_.data();
}

QList<DocumentItem*> DocumentList::items() const {
  QList<DocumentItem*> out;
  for (int i = 0; i < rows_->count(); ++i)
    if (auto* item = qobject_cast<DocumentItem*>(rows_->itemAt(i)->widget()))
      out << item;
  return out;
}

QString DocumentList::emptyText() const {
  return empty_->isVisibleTo(this) ? empty_->text() : QString();
}

DocumentItem* DocumentList::find(int id) const {
  for (DocumentItem* item : items())
    if (item->id() == id)
      return item;
  return nullptr;
}

void DocumentList::refresh() {
  const bool manager = context_.session().hasTeacherRights();
  upload_->setVisible(manager);
  deleteAll_->setVisible(manager && !items().isEmpty());
  for (DocumentItem* item : items())
    item->setManageable(manager);
  empty_->setVisible(items().isEmpty());
}

DocumentItem* DocumentList::addItem(int id, const QString& sharingName, const QString& fileName,
                                    int pages, quint32 uploader, bool onTop) {
  if (id < 0 || fileName.isEmpty() || pages < 1 || find(id))
    return nullptr;
  auto* item = new DocumentItem(id, sharingName.isEmpty() ? fileName : sharingName, fileName, pages,
                                uploader, this);
  connect(item, &DocumentItem::SharingDocument, this, [this](int docId, QString name, int count) {
    if (!context_.session().hasTeacherRights() &&
        context_.session().room().toolHolderId != qint64(context_.ownUserId())) {
      context_.toast(QStringLiteral("您没有共享教案的权限！"));
      return;
    }
    area_.onSharingDocument(docId, name, count);
  });
  connect(item, &DocumentItem::MoveToTop, this, &DocumentList::onMoveToTop);
  connect(item, &DocumentItem::DeleteSelf, this,
          [this](int docId) { onDeleteSelfDocumentItem(docId, false); });
  connect(item, &DocumentItem::DeleteAll, this, &DocumentList::onDeleteAllDocumentItem);
  area_.setDocumentUploader(id, uploader);
  if (onTop)
    rows_->insertWidget(0, item);
  else
    rows_->addWidget(item);
  refresh();
  return item;
}

void DocumentList::removeItem(int id) {
  if (DocumentItem* item = find(id)) {
    rows_->removeWidget(item);
    item->deleteLater();
    item->hide();
  }
  refresh();
}

void DocumentList::onGetSharingInfo(QJsonObject answer) {
  if (!succeeded(answer))
    return;
  const QJsonValue body = answer.value(QStringLiteral("body"));
  for (const QJsonValue& value : body.toArray()) {
    const QJsonObject doc = value.toObject();
    addItem(intOf(doc, "id", -1), doc.value(QStringLiteral("sharingName")).toString(),
            doc.value(QStringLiteral("fileName")).toString(), intOf(doc, "page"),
            quint32(intOf(doc, "globalId", int(context_.entry().ownerId))), false);
  }
  refresh();
}

// ---- adding ----

void DocumentList::btnUploadDocument_clicked() {
  const QString path = chooser_ ? chooser_() : QString();
  if (path.isEmpty())
    return;
  if (QFileInfo(path).completeBaseName().size() > kMaxBaseNameLength) {
    context_.toast(QStringLiteral("教案名称过长。"));
    return;
  }
  uploadDocument(path);
}

void DocumentList::uploadDocument(QString path) {
  if (uploading_ && !uploading_->finished()) {
    // The dialog's own retry: the same upload starts again.
    uploading_->restart(path);
    return;
  }
  if (uploading_) {
    // A finished upload still showing its success makes way for the next one.
    disconnect(uploading_, nullptr, this, nullptr);
    uploading_->close();
    uploading_ = nullptr;
  }
  upload_->setEnabled(false);
  uploading_ = new UploadingDocDlg(context_, area_.dataFolder(), path, context_.window());
  connect(uploading_, &UploadingDocDlg::signal_uploadDocFinished, this,
          &DocumentList::onUploadSharingFileFinished);
  connect(uploading_, &UploadingDocDlg::_close, this, &DocumentList::uploadingDocDlg_closed);
  connect(uploading_, &UploadingDocDlg::_retry, this, &DocumentList::uploadDocument);
  uploading_->show();
  uploading_->start();
}

void DocumentList::uploadingDocDlg_closed() {
  upload_->setEnabled(true);
}

void DocumentList::onUploadSharingFileFinished(QString baseName, int pages) {
  context_.service().post(ServiceApi::kAddSharingInfo,
                          FormBody(ServiceApi::kAddSharingInfo.body)
                              .arg(context_.roomId())
                              .arg(baseName)
                              .arg(baseName)
                              .arg(pages),
                          this, [this](QJsonObject answer) { onAddSharingInfo(answer); });
}

void DocumentList::onAddSharingInfo(QJsonObject answer) {
  if (!succeeded(answer)) {
    context_.toast(answer.isEmpty() ? QStringLiteral("当前网络不给力,请检查网络后重试！")
                                    : answer.value(QStringLiteral("msg")).toString());
    return;
  }
  const int id = intOf(answer, "id", -1);
  const QString fileName = answer.value(QStringLiteral("fileName")).toString();
  const QString sharingName = answer.value(QStringLiteral("sharingName")).toString();
  const int pages = intOf(answer, "page");
  if (!addItem(id, sharingName, fileName, pages, context_.ownUserId(), true))
    return;
  QJsonObject msg = roommsg::newMessage(MSG_DOC_ADDED);
  msg.insert(QStringLiteral("id"), id);
  msg.insert(QStringLiteral("fileName"), fileName);
  msg.insert(QStringLiteral("sharingName"), sharingName);
  msg.insert(QStringLiteral("totalPageCount"), pages);
  msg.insert(QStringLiteral("sendUserId"), double(context_.ownUserId()));
  context_.sendRoomMsg(msg, QStringLiteral("*"));
}

void DocumentList::onMoveToTop(DocumentItem* item) {
  if (!item || !find(item->id()))
    return;
  const int id = item->id();
  context_.service().post(ServiceApi::kMoveSharingTop,
                          FormBody(ServiceApi::kMoveSharingTop.body).arg(id).arg(context_.roomId()),
                          this, [this, id](QJsonObject answer) {
                            DocumentItem* moved = find(id);
                            if (!succeeded(answer) || !moved) {
                              context_.toast(QStringLiteral("置顶教案失败！"));
                              return;
                            }
                            rows_->removeWidget(moved);
                            rows_->insertWidget(0, moved);
                          });
}

// ---- deleting ----

void DocumentList::onDeleteSelfDocumentItem(int id, bool bDelAllCall) {
  if (!find(id))
    return;
  if (id == sharedDoc_) {
    if (!bDelAllCall)
      context_.toast(QStringLiteral("教案正在共享，不能删除。"));
    return;
  }
  if (!bDelAllCall && !context_.dialogs().confirm(QStringLiteral("您是否确定要删除此教案?")))
    return;
  context_.service().post(ServiceApi::kDelSharingInfo,
                          FormBody(ServiceApi::kDelSharingInfo.body).arg(id), this,
                          [this, id, bDelAllCall](QJsonObject answer) {
                            onDeleteOneDoc_back(answer, id, bDelAllCall);
                          });
  if (bDelAllCall)
    ++deletingAll_;
}

void DocumentList::onDeleteAllDocumentItem() {
  if (items().isEmpty() || !context_.dialogs().confirm(QStringLiteral("您是否确定要删除全部教案?")))
    return;
  const QList<DocumentItem*> all = items();
  for (DocumentItem* item : all)
    onDeleteSelfDocumentItem(item->id(), true);
  if (deletingAll_ == 0)
    context_.toast(QStringLiteral("教案全部删除完成！"));
}

void DocumentList::onDeleteOneDoc_back(QJsonObject answer, int id, bool bDelAllCall) {
  const bool last = bDelAllCall && --deletingAll_ == 0;
  if (answer.isEmpty()) {
    context_.toast(QStringLiteral("当前网络不给力,请检查网络后重试！"));
  } else if (!succeeded(answer)) {
    context_.toast(QStringLiteral("删除教案失败！"));
  } else {
    removeItem(id);
    QJsonObject msg = roommsg::newMessage(MSG_DOC_DELETED);
    msg.insert(QStringLiteral("id"), id);
    msg.insert(QStringLiteral("sendUserId"), double(context_.ownUserId()));
    context_.sendRoomMsg(msg, QStringLiteral("*"));
    if (!bDelAllCall)
      context_.toast(QStringLiteral("删除教案成功！"));
  }
  if (last)
    context_.toast(QStringLiteral("教案全部删除完成！"));
}

// ---- the room ----

void DocumentList::onRoomMessage(const QJsonObject& msg) {
  const int type = roommsg::typeIdOf(msg).value_or(-1);
  const quint32 sender = quint32(intOf(msg, "sendUserId"));
  // Only the teacher's side adds and deletes documents.
  const RoomMember* from = context_.session().member(sender);
  const bool manager = sender == context_.entry().ownerId ||
                       (from && (from->roleCode == RoomContext::kTeacher || from->isAssistant));
  if (!manager) {
    qWarning() << "document message ignored: sender" << sender << "may not";
    return;
  }
  if (type == MSG_DOC_DELETED) {
    removeItem(intOf(msg, "id", -1));
  } else if (type == MSG_DOC_ADDED) {
    addItem(intOf(msg, "id", -1), msg.value(QStringLiteral("sharingName")).toString(),
            msg.value(QStringLiteral("fileName")).toString(), intOf(msg, "totalPageCount"),
            sender ? sender : context_.entry().ownerId, true);
  }
}
