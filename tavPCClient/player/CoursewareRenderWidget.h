// Where the playback window shows the video: the last picture handed over,
// centred on black with its own proportions kept. Its size can be read from
// the player's thread, which scales each picture to it before handing it over.
// A double click asks for the full-size view.
#pragma once

#include <QImage>
#include <QSize>
#include <QWidget>
#include <atomic>

class CoursewareRenderWidget : public QWidget {
  Q_OBJECT

public:
  explicit CoursewareRenderWidget(QWidget* parent = nullptr);

  // Any thread.
  QSize targetSize() const { return QSize(width_.load(), height_.load()); }

  // GUI thread.
  void setFrame(const QImage& frame);
  void clear();
  QImage frame() const { return frame_; }
  bool hasFrame() const { return !frame_.isNull(); }

signals:
  void signal_doubleClicked();

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  QImage frame_;
  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
};
