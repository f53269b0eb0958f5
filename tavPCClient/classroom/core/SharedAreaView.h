// The teaching area's shared picture as other parts see it: the widget the
// picture is shown in, where in it the picture lies, the picture itself, and
// whether a screen share is shown instead. Offered by the stage.
#pragma once

#include <QPixmap>
#include <QRect>

class QWidget;

class SharedAreaView {
public:
  virtual ~SharedAreaView() = default;
  // The widget that shows the shared picture (board template, picture, page).
  virtual QWidget* sharedArea() const = 0;
  // The picture's rectangle within sharedArea(), where a canvas over it lies.
  virtual QRect pictureRect() const = 0;
  // The picture as shown (at the displayed size); null when none.
  virtual QPixmap shownPixmap() const = 0;
  // Whether the area shows a screen share rather than a picture.
  virtual bool screenShareMode() const = 0;
};
