// Publishing a recording as the room's courseware ("发布课件"): name, price, summary and
// grade checked as an edit is, the name looked up at the service first, then the description
// tag handed to the recorder, which uploads the recording with it. The recording part tells
// how the upload ended (slot_record_updated) and how far it is (slot_upload_progress).
#pragma once

#include <QDialog>
#include <QJsonObject>

class ClassroomContext;
class QLineEdit;
class QProgressBar;
class QPushButton;
class centra;

class UploadCoursewareDlg : public QDialog {
  Q_OBJECT

public:
  static constexpr int kDefaultPrice = 5;

  UploadCoursewareDlg(ClassroomContext& context, centra* recorder, QWidget* parent = nullptr);

  // The tag handed to the recorder last (empty before).
  QString tag() const { return tag_; }

public slots:
  void btnPublish_clicked();
  void onFindByName(QJsonObject answer);
  void slot_record_updated(bool published);
  void slot_upload_progress(qint64 held, qint64 total);

private:
  void refuse(const QString& text);

  ClassroomContext& context_;
  centra* recorder_;
  QLineEdit* name_;
  QLineEdit* price_;
  QLineEdit* summary_;
  QLineEdit* grade_;
  QProgressBar* progress_;
  QPushButton* publish_;
  int price_value_ = kDefaultPrice;
  QString tag_;
};
