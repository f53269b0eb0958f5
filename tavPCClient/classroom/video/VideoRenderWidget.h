// Paints one member's video: the last frame, as large as fits the widget with
// its own aspect ratio kept (the spare space stays the widget's background).
#pragma once

#include <QImage>
#include <QLabel>
#include <cstdint>

class VideoRenderWidget : public QLabel {
  Q_OBJECT

public:
  // Larger frames are refused: no camera or screen we send is that big, and a
  // bogus size must not make us read far past a small buffer.
  static constexpr int kMaxFrameSide = 8192;

  explicit VideoRenderWidget(QWidget* parent = nullptr);

  // Shows width x height pixels, rows packed: 4 bytes per pixel in the
  // layout painted without conversion (QImage::Format_RGB32), or 3 bytes read
  // as RGB888. The pixels are copied, so the caller may give the buffer back
  // at once. False when refused.
  bool showFrame(const uint8_t* pixels, int width, int height, int bytesPerPixel = 3);
  // The frame held for painting, at its own size.
  const QImage& heldFrame() const { return m_frame; }
  // Where the frame is painted: centred, its aspect ratio kept.
  QRect frameRect() const;
  void clear();

signals:
  void signal_DoubleClick();

protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  QImage m_frame;
};
