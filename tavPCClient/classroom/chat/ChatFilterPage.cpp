#include "ChatFilterPage.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QJsonValue>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "ChatMessageItem.h"
#include "ChatPanel.h"
#include "ClassroomContext.h"
#include "HistoryMoreButton.h"
#include "JoinedUsers.h"
#include "ServiceApi.h"

ChatFilterPage::ChatFilterPage(ClassroomContext& context, ChatPanel& panel, QWidget* parent)
    : QWidget(parent),
      context_(context),
      panel_(panel),
      users_(new QComboBox(this)),
      date_(new QDateEdit(this)),
      scroll_(new QScrollArea(this)),
      listHost_(new QWidget),
      list_(new QVBoxLayout(listHost_)),
      more_(new HistoryMoreButton(QStringLiteral("btnViewChatHistory_filter"), listHost_)),
      back_(new QPushButton(QStringLiteral("返回"), this)) {
  setObjectName(QStringLiteral("chatFilterPage"));
  users_->setObjectName(QStringLiteral("cbbUsersJoined"));
  users_->setMinimumWidth(120);
  date_->setObjectName(QStringLiteral("dateEdit_chatFilter"));
  date_->setCalendarPopup(true);
  date_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  back_->setObjectName(QStringLiteral("btnBack2AllChatRecord"));

  list_->setContentsMargins(0, 0, 0, 0);
  list_->setSpacing(4);
  list_->addWidget(more_);
  list_->addStretch(1);
  scroll_->setWidget(listHost_);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  auto* top = new QHBoxLayout;
  top->addWidget(users_, 1);
  top->addWidget(date_);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(back_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(top);
  layout->addWidget(scroll_, 1);
  layout->addLayout(bottom);

  connect(users_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &ChatFilterPage::cbbUsersJoined_currentIndexChanged);
  connect(more_, &QPushButton::clicked, this, &ChatFilterPage::btnViewChatHistory_filter_clicked);
  connect(back_, &QPushButton::clicked, this, &ChatFilterPage::btnBack2AllChatRecord_clicked);
}

void ChatFilterPage::open() {
  requestJoinedUsers(context_.service(), context_.roomId(), this,
                     [this](const QJsonArray& users) { onGetUsersJoined(users); });
  if (dateConnected_) {
    disconnect(date_, &QDateEdit::dateChanged, this,
               &ChatFilterPage::dateEdit_chatFilter_DateChanged);
    dateConnected_ = false;
  }
  date_->setDate(QDate::currentDate());
  connect(date_, &QDateEdit::dateChanged, this, &ChatFilterPage::dateEdit_chatFilter_DateChanged);
  dateConnected_ = true;
  btnViewChatHistory_filter_clicked();
}

void ChatFilterPage::onGetUsersJoined(QJsonArray users) {
  const QSignalBlocker quiet(users_);
  users_->clear();
  users_->addItem(QStringLiteral("全部用户"));
  // A combo box shows plain text.
  for (const JoinedUser& user : readJoinedUsers(users))
    users_->addItem(user.name, qint64(user.id));
}

QList<ChatMessageItem*> ChatFilterPage::shownItems() const {
  QList<ChatMessageItem*> shown;
  for (int i = 0; i < list_->count(); ++i) {
    if (auto* item = qobject_cast<ChatMessageItem*>(list_->itemAt(i)->widget()))
      shown.append(item);
  }
  return shown;
}

bool ChatFilterPage::hasRecord(qint64 id) const {
  for (const ChatMessageItem* item : items_) {
    if (item->recordId() == id)
      return true;
  }
  return false;
}

bool ChatFilterPage::insertHistory(ChatMessageItem* item) {
  if (hasRecord(item->recordId()))
    return false;
  items_.append(item);
  list_->insertWidget(1, item);
  return true;
}

void ChatFilterPage::reset() {
  for (int i = list_->count() - 1; i >= 1; --i) {
    QLayoutItem* entry = list_->itemAt(i);
    if (QWidget* widget = entry->widget()) {
      list_->removeWidget(widget);
      widget->deleteLater();
    }
  }
  items_.clear();
  page_ = 1;
}

void ChatFilterPage::cbbUsersJoined_currentIndexChanged(int index) {
  Q_UNUSED(index)
  reset();
  btnViewChatHistory_filter_clicked();
}

void ChatFilterPage::dateEdit_chatFilter_DateChanged(const QDate& date) {
  Q_UNUSED(date)
  reset();
  btnViewChatHistory_filter_clicked();
}

QString ChatFilterPage::nextRequestBody() const {
  QString body = QStringLiteral("chatRoomId=%1&rows=%2&page=%3")
                     .arg(context_.roomId())
                     .arg(ChatPanel::kHistoryRows)
                     .arg(page_);
  if (users_->currentIndex() > 0)
    body += QStringLiteral("&userId=%1").arg(users_->currentData().toLongLong());
  body += QStringLiteral("&date=%1").arg(date_->date().toString(QStringLiteral("yyyy-MM-dd")));
  return body;
}

void ChatFilterPage::btnViewChatHistory_filter_clicked() {
  more_->showLoading();
  context_.service().post(ServiceApi::kGetChatRecord, nextRequestBody(), this,
                          &ChatFilterPage::onGetChatHistory_filter);
}

void ChatFilterPage::onGetChatHistory_filter(QJsonObject answer) {
  const chat::HistoryAnswer read = chat::HistoryAnswer::read(answer);
  if (read.state != chat::HistoryAnswer::kRecords) {
    if (read.state == chat::HistoryAnswer::kRefused)
      context_.toast(read.message);
    more_->showMore();
    return;
  }
  const QJsonArray& records = read.records;
  if (records.isEmpty()) {
    more_->showNoMore();
    return;
  }
  const bool first = items_.isEmpty();
  for (const QJsonValue& value : records) {
    QJsonObject record = value.toObject();
    panel_.showOneRecvedMsg(record, true, true);
  }
  ++page_;
  if (read.hasNext) {
    more_->showMore();
  } else {
    more_->showNoMore();
  }
  if (first)
    QTimer::singleShot(500, this, &ChatFilterPage::autoScrollChatBarDownward_filter);
}

void ChatFilterPage::autoScrollChatBarDownward_filter() {
  listHost_->adjustSize();
  scroll_->verticalScrollBar()->setValue(scroll_->verticalScrollBar()->maximum());
}

void ChatFilterPage::btnBack2AllChatRecord_clicked() {
  emit backRequested();
}
