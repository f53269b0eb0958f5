// One courseware of the room in the list: name, price and uploader, with the
// watch button for everybody and edit and delete for the room's teacher side.
#pragma once

#include <QJsonObject>
#include <QWidget>

class QLabel;
class QPushButton;

class CoursewareItem : public QWidget {
  Q_OBJECT

public:
  explicit CoursewareItem(const QJsonObject& record, QWidget* parent = nullptr);

  int id() const { return id_; }
  QString name() const { return name_; }
  QString summary() const { return summary_; }
  int price() const { return price_; }
  QJsonObject record() const { return record_; }
  void setManageable(bool manageable);
  // After an accepted edit.
  void update(const QString& name, int price, const QString& summary);

signals:
  void watchCourseware(CoursewareItem* item);
  void editCourseware(CoursewareItem* item);
  void deleteCourseware(CoursewareItem* item);

public slots:
  void btnWatch_clicked() { emit watchCourseware(this); }
  void btnEdit_clicked() { emit editCourseware(this); }
  void btnDelete_clicked() { emit deleteCourseware(this); }

private:
  void refresh();

  QJsonObject record_;
  int id_;
  QString name_;
  QString summary_;
  int price_;
  QLabel* title_;
  QLabel* price_label_;
  QPushButton* edit_;
  QPushButton* delete_;
};
