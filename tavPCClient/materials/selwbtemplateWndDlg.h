// The whiteboard background chooser: the six templates as buttons with their
// pictures; a click chooses that template and accepts.
#pragma once

#include <QDialog>
#include <QString>

class selwbtemplateWndDlg : public QDialog {
  Q_OBJECT

public:
  explicit selwbtemplateWndDlg(QWidget* parent = nullptr);
  ~selwbtemplateWndDlg() override;

  // The chosen template's path ("./wbtemplete/..."), empty until one is chosen.
  QString chosenTemplate() const { return chosen_; }

signals:
  void signalSelwbtemplateWndDlgClose();

public slots:
  void pushButton_1_clicked() { choose(0); }
  void pushButton_2_clicked() { choose(1); }
  void pushButton_3_clicked() { choose(2); }
  void pushButton_4_clicked() { choose(3); }
  void pushButton_5_clicked() { choose(4); }
  void pushButton_6_clicked() { choose(5); }

protected:
  void done(int result) override;

private:
  void choose(int index);

  QString chosen_;
  bool closedSignalled_ = false;
};
