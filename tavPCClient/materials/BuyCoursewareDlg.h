// Buying a priced courseware before watching it ("购买课件"): the price, buy
// now or later. The service takes the price once; bought, it plays.
#pragma once

#include <QDialog>
#include <QJsonObject>

class ClassroomContext;
class QPushButton;

class BuyCoursewareDlg : public QDialog {
  Q_OBJECT

public:
  BuyCoursewareDlg(ClassroomContext& context, int coursewareId, int price,
                   QWidget* parent = nullptr);

public slots:
  void btnBuy_clicked();
  void onAddOrderBack(QJsonObject answer);

private:
  ClassroomContext& context_;
  const int id_;
  QPushButton* buy_;
};
