// The classroom's shared-picture display as the eraser sees it.
#pragma once

#include <QPixmap>

namespace vw {

class VWSharedPictureDisplay {
public:
  virtual ~VWSharedPictureDisplay() = default;
  // The picture shown now, laid out exactly under the canvas; null when none.
  virtual QPixmap shownPixmap() const = 0;
};

}  // namespace vw
