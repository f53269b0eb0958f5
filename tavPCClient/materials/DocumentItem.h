// One shared document of the room in the materials tab: its name and page
// count; a click shares it, its buttons move it to the top or delete it.
#pragma once

#include <QString>
#include <QWidget>

class QPushButton;

class DocumentItem : public QWidget {
  Q_OBJECT

public:
  DocumentItem(int id, const QString& sharingName, const QString& fileName, int pages,
               quint32 uploader, QWidget* parent = nullptr);

  int id() const { return id_; }
  QString sharingName() const { return sharingName_; }
  QString fileName() const { return fileName_; }
  int pages() const { return pages_; }
  quint32 uploader() const { return uploader_; }
  // Members who may not manage documents see no buttons.
  void setManageable(bool manageable);

signals:
  void SharingDocument(int id, QString fileName, int pages);
  void MoveToTop(DocumentItem* item);
  void DeleteSelf(int id);
  void DeleteAll();

protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  const int id_;
  const QString sharingName_;
  const QString fileName_;
  const int pages_;
  const quint32 uploader_;
  QPushButton* top_;
  QPushButton* delete_;
};
