// A strip of video tiles showing one lineup of members: a tile for each
// shown user, in order, each with the shape of a 4:3 picture as high as the
// strip; scroll buttons while users wait. Who is shown is the lineup's
// business; the strip only follows it.
#pragma once

#include <QHash>
#include <QList>
#include <QWidget>

class PlayWnd;
class QHBoxLayout;
class QPushButton;
class VideoLineup;

class VideoGroup : public QWidget {
  Q_OBJECT

public:
  // Width over height of a tile: the cameras send 4:3.
  static constexpr double kTileAspect = 4.0 / 3.0;

  explicit VideoGroup(VideoLineup& lineup, QWidget* parent = nullptr);
  ~VideoGroup() override;

  VideoLineup& lineup() const { return lineup_; }
  PlayWnd* tile(quint32 id) const { return tiles_.value(id); }
  QList<PlayWnd*> tiles() const;
  bool scrollButtonsShown() const;
  QSize tileSize() const;

  // Applies to the current and future tiles.
  void setHoverAllowed(bool allowed);

signals:
  // A tile was made for a user the lineup shows now; fill in who it is.
  void tileShown(PlayWnd* tile);
  void signalPlayWndOpr(quint32 userId, int opr);

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  void showTile(quint32 id, int position);
  void hideTile(quint32 id);

  VideoLineup& lineup_;
  bool hoverAllowed_ = false;
  QHash<quint32, PlayWnd*> tiles_;
  QHBoxLayout* tileLayout_;
  QPushButton* btnPrevious_;
  QPushButton* btnNext_;
};
