// The teaching area as application sharing reaches it: it shows a program
// embedded in it, in place of the shared area, while the own member shares
// that program. Offered by the stage.
#pragma once

class QWidget;

class AppShareView {
public:
  virtual ~AppShareView() = default;
  // Where the embedded program's container goes (its parent).
  virtual QWidget* appHost() const = 0;
  // Shows the container (null: the shared area again). While the own member
  // writes on the board the stage shows the program as captured, with the
  // board over it, and the live program again when the writing ends.
  virtual void setEmbedded(QWidget* container) = 0;
};
