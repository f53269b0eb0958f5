// A chat picture at full size in a window of its own: fitted to the screen
// when larger, scrollable at its natural size by double click.
#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;
class QScrollArea;

class ChatPictureViewer : public QDialog {
  Q_OBJECT

public:
  explicit ChatPictureViewer(const QString& path, QWidget* parent = nullptr);

  bool hasPicture() const { return !picture_.isNull(); }
  // The size the picture is shown at now.
  QSize shownSize() const;

protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void showFitted(bool fitted);

  QPixmap picture_;
  QScrollArea* scroll_;
  QLabel* label_;
  bool fitted_ = true;
};
