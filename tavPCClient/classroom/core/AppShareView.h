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
  // Shows the container (null: the shared area again).
  virtual void setEmbedded(QWidget* container) = 0;
  // Shows the program's last captured picture instead of the live program,
  // with the board over it (while the own member writes on it).
  virtual void setStill(bool still) = 0;
};
