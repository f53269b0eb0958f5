// The eraser's widths, floating beside the drawing toolbar. The eraser rubs
// with the pen's width; these buttons only offer the choice for now.
#pragma once

#include <QFrame>

class QButtonGroup;

namespace vw {

class EraserWidthBar : public QFrame {
  Q_OBJECT
public:
  explicit EraserWidthBar(QWidget* parent);

private:
  QButtonGroup* widths_;
};

}  // namespace vw
