// Editing a courseware's name, price and summary ("编辑课件"): each rule is
// checked before the service is asked; the service's yes accepts the dialog.
#pragma once

#include <QDialog>
#include <QJsonObject>

class ClassroomContext;
class QLineEdit;
class QPushButton;

class EditCoursewareDlg : public QDialog {
  Q_OBJECT

public:
  EditCoursewareDlg(ClassroomContext& context, int id, const QString& name, int price,
                    const QString& summary, QWidget* parent = nullptr);
  QString name() const;
  int price() const { return sentPrice_; }
  QString summary() const;
  // The refusal shown last (empty when none).
  QString refusal() const { return refusal_; }

public slots:
  void btnOk_clicked();
  void onUpdateBack(QJsonObject answer);

private:
  ClassroomContext& context_;
  const int id_;
  QLineEdit* name_;
  QLineEdit* price_;
  QLineEdit* summary_;
  QPushButton* ok_;
  QString refusal_;
  int sentPrice_ = 0;
};
