// The pen's width and colour, floating beside the drawing toolbar. Every
// choice changes the local pen first and then goes to everybody, so that all
// canvases draw with the same pen.
#pragma once

#include <QFrame>

class QAbstractButton;
class QButtonGroup;
class QIcon;
class QJsonValue;

namespace vw {

class VWClassroomLink;
class VWPaintWidget;

class DrawingSettingsBar : public QFrame {
  Q_OBJECT
public:
  DrawingSettingsBar(VWPaintWidget* canvas, VWClassroomLink* classroom, QWidget* parent);

  // The middle width and red shown checked, as the pen is after a reset.
  void showDefaults();

public slots:
  void btnLineWidth1_clicked();
  void btnLineWidth2_clicked();
  void btnLineWidth3_clicked();
  void btnRed_clicked();
  void btnGreen_clicked();
  void btnBlue_clicked();
  void btnYellow_clicked();

private:
  QAbstractButton* addButton(QButtonGroup* group, const char* name, const QString& tip,
                             const QIcon& icon);
  void chooseWidth(int width);
  void chooseColor(int r, int g, int b, int a);
  void send(int typeId, const QJsonValue& content);

  VWPaintWidget* const canvas_;
  VWClassroomLink* const classroom_;
  QButtonGroup* widths_;
  QButtonGroup* colors_;
  QAbstractButton* middleWidth_ = nullptr;
  QAbstractButton* red_ = nullptr;
};

}  // namespace vw
