// The room's shared documents (converted lesson plans) in the materials tab:
// the list from the service, newest on top, kept in step with the room (a
// document added or deleted elsewhere); a click shares a document; the
// teacher's side uploads lesson plans, moves documents up and deletes them
// (never the one being shown).
#pragma once

#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "UploadingDocDlg.h"

class ClassroomContext;
class DocumentItem;
class QLabel;
class QPushButton;
class QVBoxLayout;
class SharedArea;

class DocumentList : public QWidget {
  Q_OBJECT

public:
  static constexpr int kMaxBaseNameLength = 20;

  DocumentList(ClassroomContext& context, SharedArea& area, QWidget* parent = nullptr);
  ~DocumentList() override;

  QList<DocumentItem*> items() const;
  QString emptyText() const;
  UploadingDocDlg* uploadDialog() const { return uploading_; }

  // For tests: the questions' answer and the file the chooser returns.
  void setChooser(std::function<QString()> chooser) { chooser_ = std::move(chooser); }

public slots:
  void onGetSharingInfo(QJsonObject answer);
  void onAddSharingInfo(QJsonObject answer);
  void onUploadSharingFileFinished(QString baseName, int pages);
  void onMoveToTop(DocumentItem* item);
  void onDeleteSelfDocumentItem(int id, bool bDelAllCall);
  void onDeleteAllDocumentItem();
  void onDeleteOneDoc_back(QJsonObject answer, int id, bool bDelAllCall);
  void btnUploadDocument_clicked();
  void uploadDocument(QString path);
  void uploadingDocDlg_closed();

private:
  void onRoomMessage(const QJsonObject& msg);
  DocumentItem* addItem(int id, const QString& sharingName, const QString& fileName, int pages,
                        quint32 uploader, bool onTop);
  DocumentItem* find(int id) const;
  void removeItem(int id);
  void refresh();

  ClassroomContext& context_;
  SharedArea& area_;
  QVBoxLayout* rows_;
  QLabel* empty_;
  QPushButton* upload_;
  QPushButton* deleteAll_;
  QPointer<UploadingDocDlg> uploading_;
  int sharedDoc_ = -1;
  int deletingAll_ = 0;  // deletions of a "delete all" still to answer
  std::function<QString()> chooser_;
};
