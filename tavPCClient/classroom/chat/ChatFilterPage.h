// The filtered chat history: the stored messages of one user (or everybody)
// on one day, paged in ten at a time, newest below.
#pragma once

#include <QDate>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QWidget>

#include "HistoryMoreButton.h"

class ChatMessageItem;
class ChatPanel;
class ClassroomContext;

class QComboBox;
class QDateEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

class ChatFilterPage : public QWidget {
  Q_OBJECT

public:
  ChatFilterPage(ClassroomContext& context, ChatPanel& panel, QWidget* parent = nullptr);

  // Called when the page is opened: the user list, today, the first page.
  void open();

  const QList<ChatMessageItem*>& items() const { return items_; }
  QList<ChatMessageItem*> shownItems() const;
  int filterPage() const { return page_; }
  HistoryMoreButton* moreButton() const { return more_; }
  // The request body the next page is asked with.
  QString nextRequestBody() const;

  // Inserts a record at the top of the list (position 0 is the more button);
  // false when an item with its id is already there.
  bool insertHistory(ChatMessageItem* item);
  bool hasRecord(qint64 id) const;

signals:
  void backRequested();

public slots:
  void onGetUsersJoined(QJsonArray users);
  void cbbUsersJoined_currentIndexChanged(int index);
  void dateEdit_chatFilter_DateChanged(const QDate& date);
  void btnViewChatHistory_filter_clicked();
  void onGetChatHistory_filter(QJsonObject answer);
  void autoScrollChatBarDownward_filter();
  void btnBack2AllChatRecord_clicked();

private:
  void reset();

  ClassroomContext& context_;
  ChatPanel& panel_;
  QList<ChatMessageItem*> items_;
  int page_ = 1;
  bool dateConnected_ = false;
  QComboBox* users_;
  QDateEdit* date_;
  QScrollArea* scroll_;
  QWidget* listHost_;
  QVBoxLayout* list_;
  HistoryMoreButton* more_;
  QPushButton* back_;
};
