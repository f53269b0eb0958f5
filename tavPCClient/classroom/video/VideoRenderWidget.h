// Paints one member's video: the last frame, stretched to the widget.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <cstdint>

class VideoRenderWidget : public QLabel {
  Q_OBJECT

public:
  // Larger frames are refused: no camera or screen we send is that big, and a
  // bogus size must not make us read far past a small buffer.
  static constexpr int kMaxFrameSide = 8192;

  explicit VideoRenderWidget(QWidget* parent = nullptr);

  // Shows width x height pixels of 3 bytes each (read as RGB888, rows packed),
  // scaled to the widget's size. The pixels are copied, so the caller may give
  // the buffer back at once. False when refused or when Qt could not wrap them.
  bool showFrame(const uint8_t* pixels, int width, int height);
  // The picture held for painting (already at the widget's size).
  QPixmap heldPixmap() const { return m_pixmap; }
  void setHeldPixmap(const QPixmap& pixmap);
  void clear();

signals:
  void signal_DoubleClick();

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  QPixmap m_pixmap;
};
