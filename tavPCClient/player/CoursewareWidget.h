// One video in the playback window's list: its name and uploader, the address
// it plays from and its id. Clicking it asks for it to be played; the window
// marks the one playing.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

class CoursewareWidget : public QWidget {
  Q_OBJECT

public:
  static constexpr int kHeight = 45;

  CoursewareWidget(int id, const QString& name, const QString& uploader, const QString& playUrl,
                   QWidget* parent = nullptr);

  int id() const { return id_; }
  QString name() const { return name_; }
  QString uploader() const { return uploader_; }
  QString playUrl() const { return playUrl_; }

  bool isChecked() const { return checked_; }
  void setChecked(bool checked);

signals:
  void signal_watch(CoursewareWidget* entry);

protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  const int id_;
  const QString name_;
  const QString uploader_;
  const QString playUrl_;
  bool checked_ = false;
};
