// The main video window beside the stage: the room owner's (teacher's)
// picture with the name over its lower edge. Its height follows its width in
// the 4:3 shape of the cameras' pictures.
#pragma once

#include <QWidget>

class QLabel;
class VideoRenderWidget;

class MainVideoBox : public QWidget {
  Q_OBJECT

public:
  explicit MainVideoBox(QWidget* parent = nullptr);

  VideoRenderWidget* renderWidget() const { return render_; }
  // The name shown ("老师视频" while nobody's video is there).
  void setName(const QString& name);
  QString name() const;
  void clear();

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override { return width * 3 / 4; }
  QSize sizeHint() const override { return QSize(360, 270); }

signals:
  // A double click on the picture: the member wants it large, on the stage.
  void enlargeRequested();

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  VideoRenderWidget* render_;
  QLabel* name_;
};
