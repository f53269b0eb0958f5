// The frameless dialog that shows how much of the upgrade package has arrived.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

class DownloadUpdateDialog : public QDialog {
  Q_OBJECT

public:
  explicit DownloadUpdateDialog(QWidget* parent = nullptr);

  // 0 to 100.
  void setProgress(int percent);
  int progress() const;

private:
  QLabel* label_;
  QProgressBar* bar_;
};
