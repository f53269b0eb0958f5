// The voice recorder of the chat: start, then send (at the earliest after one
// second) or cancel; a clip stops and is sent by itself after 300 seconds. One
// per classroom, reused for every clip.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTimer;
class libvocalia_record;

class RecordVoiceDlg : public QDialog {
  Q_OBJECT

public:
  static constexpr int kLimitMs = 300000;

  // Clips go to "<folder>/yyyyMMdd_hhmmsszzz.qn"; the folder is made on start.
  explicit RecordVoiceDlg(QWidget* parent = nullptr);
  ~RecordVoiceDlg() override;

  void setClipFolder(const QString& folder) { folder_ = folder; }
  // The microphone recorded from: the one chosen for the classroom.
  void setMicrophone(int index) { microphone_ = index; }
  QString clipPath() const { return path_; }
  int recordedSeconds() const { return seconds_; }
  bool recording() const { return recorder_ != nullptr; }

signals:
  // The clip is to be sent.
  void signalRecordVoiceDlgClose();

public slots:
  void btnClose_clicked();
  void btnStartRecordVoice_clicked();
  void btnStopRecordVoice_clicked();
  void timerClock_timeout();
  void m_timerClockForLenght_timeout();
  void timer_300second_timeout();

protected:
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

private:
  void stopRecording();

  QString folder_;
  QString path_;
  int seconds_ = 0;
  int microphone_ = 0;
  libvocalia_record* recorder_ = nullptr;
  QLabel* counter_;
  QLabel* note_;
  QPushButton* start_;
  QPushButton* cancel_;
  QPushButton* close_;
  QTimer* clock_;
  QTimer* minimum_;
  QTimer* limit_;
  QPoint dragFrom_;
};
