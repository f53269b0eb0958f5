// The classroom's shared-picture display as the eraser sees it.
#pragma once

#include <QBrush>
#include <QPixmap>

namespace vw {

class VWSharedPictureDisplay {
public:
  virtual ~VWSharedPictureDisplay() = default;
  // The picture shown now, laid out exactly under the canvas; null when none.
  virtual QPixmap shownPixmap() const = 0;
  // What the eraser paints with: the picture shown, as a texture from the canvas's top left
  // corner; Qt::NoBrush when none. A display drawn off the GUI thread gives a texture image
  // here (pixmaps belong to the GUI thread).
  virtual QBrush pictureBrush() const {
    const QPixmap picture = shownPixmap();
    return picture.isNull() ? QBrush() : QBrush(picture);
  }
};

}  // namespace vw
