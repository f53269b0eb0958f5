// The arithmetic of the shared area, without widgets: the templates, how a
// picture is prepared for sharing (name, scaling), rotation, page turning and
// the visible rectangle in actual-size mode, and the rectangle's JSON form.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>

namespace share {

// What the shared area shows ("fileType").
enum Mode { kNone = 0, kTemplate = 1, kPicture = 2, kDocument = 3 };
// How a picture is shown ("picDispMode").
enum DisplayMode { kFit = 0, kActual = 1 };

// The whiteboard templates in the order they are offered; the first is the blank board.
QStringList templatePaths();
QString blankBoardPath();

// Largest picture shared as it is.
constexpr int kMaxWidth = 1920;
constexpr int kMaxHeight = 1080;
// The size a picture is shared at: unchanged within 1920x1080; otherwise 1080
// wide when taller than wide, else 1920 wide, the aspect kept.
QSize sharedSize(const QSize& source);

// The file name a shared picture gets: own id, time and the source's extension.
QString sharedPictureName(quint32 ownUserId, const QDateTime& now, const QString& sourcePath);

// Largest picture taken for sharing: it is decoded whole before it is scaled.
constexpr int kMaxSourceSide = 8192;
constexpr qint64 kMaxSourcePixels = 40LL * 1000 * 1000;
// Whether the picture's header declares more than that.
bool tooLargeToShare(const QString& sourcePath);

// Prepares sourcePath for sharing as folder/name: scaled (smoothly, saved in
// the source format) or copied unchanged. Empty when it cannot be loaded or written.
QString preparePicture(const QString& sourcePath, const QString& folder, const QString& name);

// Rotation in degrees: forward adds 90 and wraps 360 to 0; reverse subtracts 90.
int rotatedForward(int angle);
int rotatedBack(int angle);

// A page turn: the page that results and whether it is announced.
struct PageTurn {
  int page;
  bool send;
};
PageTurn nextPage(int current, int total);
PageTurn previousPage(int current);
// index counts from 0.
PageTurn goToPage(int index, int total);

// The visible part when a picture of pictureSize is shown at actual size in an
// area of areaSize, starting at topLeft (kept inside the picture).
QRect visibleRect(const QSize& pictureSize, const QSize& areaSize, const QPoint& topLeft = {});
// The visible rectangle moved by a drag of (dx, dy) (the picture follows the
// mouse); none when any part of it would leave the picture.
std::optional<QRect> dragged(const QRect& visible, int dx, int dy, const QSize& pictureSize);

// How the shared area lays a picture into itself: stretched over it (templates), fitted
// with its aspect kept and centred, or at actual size, centred and cut at its edges.
enum Placement { kStretched, kFitted, kAtActualSize };
QRect placedRect(Placement placement, const QSize& picture, const QSize& area);

// What of a picture the shared area shows and how, for a picture already turned to
// `rotated`: the whole of it stretched when it is a template (not a picture or page), in
// actual-size mode the visible part (the whole when that misses the picture) at actual size,
// else the whole fitted.
struct Presentation {
  QRect part;
  Placement placement;
};
Presentation presentation(bool picture, int displayMode, const QRect& visible,
                          const QSize& rotated);

// {"x", "y", "width", "height"}.
QJsonObject rectJson(const QRect& rect);
// The rectangle of a message: its "rect" object, or the same keys at the top.
QRect rectOf(const QJsonObject& msg);

}  // namespace share
