// The holder's floating drawing toolbar over the teaching area: the tools,
// clear and undo, with the settings bar (widths, colours) and the eraser bar
// floating beside it. Every choice changes the local canvas first and then
// goes to everybody, so that all canvases draw with the same pen.
#pragma once

#include <QFrame>
#include <QPoint>
#include <QPointer>

class QButtonGroup;
class QIcon;
class QToolButton;

namespace vw {

class DrawingSettingsBar;
class EraserWidthBar;
class VWClassroomLink;
class VWPaintWidget;

class DrawingToolbar : public QFrame {
  Q_OBJECT
public:
  // parent is the teaching area; the toolbar and its bars float over it.
  DrawingToolbar(VWPaintWidget* canvas, VWClassroomLink* classroom, QWidget* parent);
  ~DrawingToolbar() override;

  DrawingSettingsBar* settingsBar() const { return settingsBar_; }
  EraserWidthBar* eraserBar() const { return eraserBar_; }

  // Free-hand, width 2, red, shown as such; both bars hidden. Done whenever
  // somebody obtains the board-writing right.
  void resetToDefaults();
  // Floats over another area now (with its bars), as shown or hidden as it was.
  void moveToArea(QWidget* area);

public slots:
  // Tool group ids: 0 pen, 1 rectangle, 2 ellipse, 3 arrow, 4 line.
  void buttonGroup_clicked(int id);
  void btnEraser_clicked();
  void btnBrush_clicked();
  void btnRectangle_clicked();
  void btnOval_clicked();
  void btnArrow_clicked();
  void btnLine_clicked();
  void btnRevoke_clicked();
  void btnRevoke_Enabled();

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  QToolButton* addButton(const char* name, const QString& tip, const QIcon& icon);
  void chooseTool(int code);
  void sendTool(int code);
  void toggleSettingsBar(int id);
  void toggleEraserBar();
  void showEraserChecked(bool checked);
  // Moves the toolbar within its parent and both bars by the same distance.
  void moveAlong(const QPoint& topLeft);
  QPoint besideToolbar(int dy) const;

  VWPaintWidget* const canvas_;
  VWClassroomLink* const classroom_;
  QButtonGroup* tools_;
  QToolButton* eraser_ = nullptr;
  QToolButton* revoke_ = nullptr;
  QPointer<DrawingSettingsBar> settingsBar_;
  QPointer<EraserWidthBar> eraserBar_;
  int settingsFor_ = -1;  // the tool button the settings bar was last shown for
  bool dragging_ = false;
  QPoint dragOffset_;  // where in the toolbar the drag took hold
};

}  // namespace vw
