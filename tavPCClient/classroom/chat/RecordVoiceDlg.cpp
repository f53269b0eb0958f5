#include "RecordVoiceDlg.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ChatFiles.h"
#include "VoiceClips.h"
#include "vocalia/vocalia.h"

namespace {
const QString kStartText = QStringLiteral("开始录音");
const QString kSendText = QStringLiteral("发送");
}  // namespace

RecordVoiceDlg::RecordVoiceDlg(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint),
      counter_(new QLabel(QStringLiteral("0"), this)),
      note_(new QLabel(QStringLiteral("注：每次语音限300秒，到时自动停止并发送"), this)),
      start_(new QPushButton(kStartText, this)),
      cancel_(new QPushButton(QStringLiteral("取消发送"), this)),
      close_(new QPushButton(QStringLiteral("×"), this)),
      clock_(new QTimer(this)),
      minimum_(new QTimer(this)),
      limit_(new QTimer(this)) {
  setObjectName(QStringLiteral("RecordVoiceDlg"));
  setFixedSize(300, 150);
  setStyleSheet(QStringLiteral(
      "QDialog#RecordVoiceDlg { background: white; border: 1px solid #d0d4da; border-radius: 6px; }"
      "QLabel#recordCounter { font-size: 28px; color: #3a6dfc; }"
      "QLabel#recordNote { color: #888888; font-size: 11px; }"));
  counter_->setObjectName(QStringLiteral("recordCounter"));
  counter_->setAlignment(Qt::AlignCenter);
  note_->setObjectName(QStringLiteral("recordNote"));
  note_->setWordWrap(true);
  start_->setObjectName(QStringLiteral("btnStartRecordVoice"));
  cancel_->setObjectName(QStringLiteral("btnStopRecordVoice"));
  close_->setObjectName(QStringLiteral("btnClose"));
  close_->setFlat(true);
  close_->setFixedSize(24, 24);

  auto* top = new QHBoxLayout;
  auto* title = new QLabel(QStringLiteral("语音消息"), this);
  top->addWidget(title);
  top->addStretch(1);
  top->addWidget(close_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(counter_);
  layout->addLayout(buttons);
  layout->addWidget(note_);

  clock_->setInterval(1000);
  minimum_->setInterval(1000);
  minimum_->setSingleShot(true);
  limit_->setInterval(kLimitMs);
  limit_->setSingleShot(true);
  connect(clock_, &QTimer::timeout, this, &RecordVoiceDlg::timerClock_timeout);
  connect(minimum_, &QTimer::timeout, this, &RecordVoiceDlg::m_timerClockForLenght_timeout);
  connect(limit_, &QTimer::timeout, this, &RecordVoiceDlg::timer_300second_timeout);
  connect(start_, &QPushButton::clicked, this, &RecordVoiceDlg::btnStartRecordVoice_clicked);
  connect(cancel_, &QPushButton::clicked, this, &RecordVoiceDlg::btnStopRecordVoice_clicked);
  connect(close_, &QPushButton::clicked, this, &RecordVoiceDlg::btnClose_clicked);
}

RecordVoiceDlg::~RecordVoiceDlg() {
  if (recorder_)
    recorder_->release(1);
}

void RecordVoiceDlg::stopRecording() {
  if (recorder_) {
    recorder_->release(1);
    recorder_ = nullptr;
  }
  clock_->stop();
  minimum_->stop();
  limit_->stop();
  counter_->setText(QStringLiteral("0"));
  start_->setEnabled(true);
  cancel_->setEnabled(true);
  start_->setText(kStartText);
}

void RecordVoiceDlg::btnStartRecordVoice_clicked() {
  if (start_->text() == kSendText) {
    stopRecording();
    emit signalRecordVoiceDlgClose();
    hide();
    return;
  }
  counter_->setText(QStringLiteral("0"));
  QDir().mkpath(folder_);
  path_ = QDir(folder_).filePath(chat::ownClipName(QDateTime::currentDateTime()));
  if (recorder_)
    recorder_->release(1);
  recorder_ = chat::createRecorder(path_, microphone_);
  if (!recorder_) {
    qWarning() << "voice clip: cannot record into" << path_;
    counter_->setText(QStringLiteral("录音失败"));
    return;
  }
  seconds_ = 0;
  clock_->start();
  minimum_->start();
  limit_->start();
  start_->setEnabled(false);
  cancel_->setEnabled(false);
  start_->setText(kSendText);
}

void RecordVoiceDlg::btnStopRecordVoice_clicked() {
  stopRecording();
  hide();
}

void RecordVoiceDlg::btnClose_clicked() { btnStopRecordVoice_clicked(); }

void RecordVoiceDlg::timerClock_timeout() {
  ++seconds_;
  counter_->setText(QString::number(seconds_));
}

void RecordVoiceDlg::m_timerClockForLenght_timeout() {
  minimum_->stop();
  start_->setEnabled(true);
  cancel_->setEnabled(true);
}

void RecordVoiceDlg::timer_300second_timeout() {
  btnStopRecordVoice_clicked();
  emit signalRecordVoiceDlgClose();
}

void RecordVoiceDlg::closeEvent(QCloseEvent* event) {
  // Closing the window is cancelling: nothing is sent.
  if (recorder_)
    stopRecording();
  QDialog::closeEvent(event);
}

void RecordVoiceDlg::mousePressEvent(QMouseEvent* event) {
  dragFrom_ = event->globalPos() - frameGeometry().topLeft();
  QDialog::mousePressEvent(event);
}

void RecordVoiceDlg::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton)
    move(event->globalPos() - dragFrom_);
  QDialog::mouseMoveEvent(event);
}
