#include "class_view.h"

#include <QFileInfo>
#include <QPainter>
#include <QTransform>
#include <algorithm>

#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "ShareRules.h"
#include "VWAnnoHandler.h"

namespace centra_impl {

namespace {

const QColor kContentBackground(0x20, 0x20, 0x20);
const QColor kVideoBackground(0x2b, 0x2b, 0x2b);

// Keys of the pictures: templates by file, the room's files by uploader and name.
std::string remote_key(uint32_t uploader, const QString& name) {
  return "r:" + std::to_string(uploader) + "/" + name.toStdString();
}

}  // namespace

class_view::class_view(uint32_t own_id, bool content_only, class_link& link)
    : own_id_(own_id), content_only_(content_only), link_(link), share_(own_id), board_(this) {}

class_view::~class_view() = default;

QBrush class_view::pictureBrush() const {
  return brush_.isNull() ? QBrush() : QBrush(brush_);
}

// ---- the class and its floors ----

void class_view::joined(bool running, uint32_t starter) {
  if (!running)
    return;
  class_started(starter);
  // Already running: the board comes from its starter, what is shown from the sharer.
  ask_for_board(starter);
  link_.ask_sharer();
}

void class_view::class_started(uint32_t starter) {
  running_ = true;
  starter_ = starter;
  board_.clearAllShape();
  board_dirty_ = true;
  show_blank_board();
  update_subscriptions();
}

void class_view::class_stopped() {
  running_ = false;
  starter_ = 0;
  sharer_ = 0;
  share_.clear();
  board_.clearAllShape();
  board_dirty_ = true;
  awaiting_board_ = false;
  wanted_.clear();
  shown_.clear();
  placed_ = false;
}

void class_view::sharer_known(uint32_t user) {
  sharer_ = user;
  if (running_ && user != 0 && user != own_id_)
    link_.send_to(user, roommsg::serialize(share_.queryMessage()));
}

void class_view::shared_by(uint32_t user) {
  sharer_ = user;
}

void class_view::share_ended(uint32_t user) {
  if (sharer_ != user)
    return;
  sharer_ = 0;
  if (running_)
    show_blank_board();
}

void class_view::show_blank_board() {
  share_.showBlankBoard(QFileInfo(share::blankBoardPath()).fileName());
  follow(ShareState::kNewFile);
}

// ---- streams ----

void class_view::stream_opened(uint32_t user, int kind) {
  if (kind == 1) {
    if (std::find(cameras_.begin(), cameras_.end(), user) == cameras_.end())
      cameras_.push_back(user);
    update_subscriptions();
  } else if (kind == 4) {
    screen_ = user;
    link_.subscribe(user, 4);
  }
}

void class_view::stream_closed(uint32_t user, int kind) {
  frames_.erase({user, kind});
  if (kind == 1) {
    cameras_.erase(std::remove(cameras_.begin(), cameras_.end(), user), cameras_.end());
    subscribed_.erase(user);
    update_subscriptions();
  } else if (kind == 4 && screen_ == user) {
    screen_ = 0;
  }
}

void class_view::user_left(uint32_t user) {
  stream_closed(user, 1);
  stream_closed(user, 4);
}

void class_view::update_subscriptions() {
  if (content_only_)
    return;
  // The tiles: the class's starter first, then the others as their cameras came.
  std::vector<uint32_t> order = cameras_;
  std::stable_partition(order.begin(), order.end(), [this](uint32_t u) { return u == starter_; });
  for (size_t i = 0; i < order.size() && i < size_t(kMaxTiles); ++i) {
    if (!subscribed_[order[i]]) {
      subscribed_[order[i]] = true;
      link_.subscribe(order[i], 1);
    }
  }
}

void class_view::frame(uint32_t user, int kind, const QImage& picture) {
  frames_[{user, kind}] = picture;
}

// ---- the shared area ----

std::string class_view::key_of_page(int page) const {
  const ShareState::State& s = share_.state();
  return remote_key(s.uploader, s.fileName + QStringLiteral("_%1.png").arg(page));
}

void class_view::follow(ShareState::Change change) {
  if (change == ShareState::kNewPlacement)
    placed_ = false;
  else if (change == ShareState::kNewFile)
    want_shown_file();
}

void class_view::want_shown_file() {
  const ShareState::State& s = share_.state();
  std::string key;
  switch (s.mode) {
    case share::kTemplate:
      key = "t:" + s.fileName.toStdString();
      link_.want_local(key, ("./wbtemplete/" + s.fileName).toStdString());
      break;
    case share::kPicture:
      key = remote_key(s.uploader, s.fileName);
      link_.want_remote(key, s.uploader, s.fileName.toStdString());
      break;
    case share::kDocument:
      key = key_of_page(s.page);
      link_.want_remote(key, s.uploader,
                        (s.fileName + QStringLiteral("_%1.png").arg(s.page)).toStdString());
      // The next page is fetched before anybody turns to it.
      if (s.page < s.pages)
        link_.want_remote(key_of_page(s.page + 1), s.uploader,
                          (s.fileName + QStringLiteral("_%1.png").arg(s.page + 1)).toStdString());
      break;
    default:
      return;
  }
  wanted_ = key;
  if (pictures_.count(key)) {
    shown_ = key;
    placed_ = false;
  }
}

void class_view::picture_arrived(const std::string& key, const QImage& picture) {
  if (picture.isNull())
    return;
  pictures_[key] = picture;
  if (key == wanted_) {
    shown_ = key;
    placed_ = false;
  }
  // Kept: what is shown, what is wanted and the page after it.
  const std::string next = share_.state().mode == share::kDocument
                               ? key_of_page(share_.state().page + 1)
                               : std::string();
  for (auto it = pictures_.begin(); it != pictures_.end();)
    it = it->first == shown_ || it->first == wanted_ || it->first == next ? std::next(it)
                                                                          : pictures_.erase(it);
}

// ---- room messages ----

void class_view::peer_message(uint32_t sender, const QByteArray& text) {
  const auto parsed = roommsg::parseObject(text);
  if (!parsed)
    return;
  QJsonObject msg = *parsed;
  if (roommsg::hasStringTypeId(msg)) {
    const int type = roommsg::typeIdOf(msg).value_or(-1);
    if (type >= MSG_SHARE_STATE && type <= MSG_PIC_RESIZE)
      follow(share_.apply(msg, running_));
    return;
  }
  // The media server names the member a board message came from.
  msg.insert(KEY_SEND_USER_ID, double(sender));
  board_message(msg);
}

void class_view::ask_for_board(uint32_t starter) {
  if (starter == 0 || starter == own_id_)
    return;
  board_.clearAllShape();
  board_dirty_ = true;
  awaiting_board_ = true;
  board_shape_seen_ = false;
  await_until_ = std::chrono::steady_clock::now() + kAwaitBoard;
  QJsonObject sync = roommsg::newMessage(ANNO_SYNC_REQUEST);
  sync.insert(KEY_SEND_USER_ID, double(own_id_));
  link_.send_to(starter, roommsg::serialize(sync));
}

void class_view::board_message(QJsonObject msg) {
  using A = vw::VWAnnoAction;
  const vw::VWAnnoState state{own_id_, running_};
  for (const vw::VWAnnoAction& action : vw::handleAnnoMessage(state, msg)) {
    if (awaiting_board_) {
      // Strokes drawn meanwhile are part of the board that is on its way.
      if (action.kind == A::BeginShape || action.kind == A::ContinueShape ||
          action.kind == A::FinishShape)
        continue;
      // The answer ends with "-1", or with the pen after its shapes.
      const bool last =
          action.kind == A::NothingToShow || (action.kind == A::SetPen && board_shape_seen_);
      if (action.kind == A::RenderShape || action.kind == A::ShowCanvas)
        board_shape_seen_ = true;
      if (last)
        awaiting_board_ = false;
    }
    // Whoever takes the board starts with the pen every member's toolbar resets to
    // (DrawingToolbar::resetToDefaults): the free-hand pen, red, 2 pixels.
    if (action.kind == A::AnnoStart)
      board_.setPen(VWShapeProperty{1, 255, 0, 0, 255, 2});
    if (board_.apply(action))
      board_dirty_ = true;
  }
}

// ---- drawing ----

QRect class_view::content_area() const {
  return content_only_ ? QRect(0, 0, kWidth, kHeight) : QRect(0, 0, kWidth - kVideoWidth, kHeight);
}

void class_view::render(QImage& target, std::chrono::steady_clock::time_point now) {
  if (awaiting_board_ && now >= await_until_)
    awaiting_board_ = false;
  QPainter painter(&target);
  const QRect content = content_area();
  render_content(painter, content);
  if (!content_only_)
    render_tiles(painter, QRect(content.right() + 1, 0, kVideoWidth, kHeight));
}

void class_view::render_content(QPainter& painter, const QRect& area) {
  painter.fillRect(area, kContentBackground);
  if (!running_)
    return;
  // A shared screen shows instead of the shared area (its board is drawn into it).
  if (screen_ != 0) {
    const auto it = frames_.find({screen_, 4});
    if (it != frames_.end() && !it->second.isNull()) {
      const QSize fitted = it->second.size().scaled(area.size(), Qt::KeepAspectRatio);
      const QRect at(area.x() + (area.width() - fitted.width()) / 2,
                     area.y() + (area.height() - fitted.height()) / 2, fitted.width(),
                     fitted.height());
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(at, it->second);
      return;
    }
  }
  const auto picture = pictures_.find(shown_);
  if (picture == pictures_.end())
    return;
  if (!placed_) {
    const ShareState::State& s = share_.state();
    const bool turnable = share_.showsPicture();
    const QImage& original = picture->second;
    const QImage rotated =
        turnable && s.rotation != 0
            ? original.transformed(QTransform().rotate(s.rotation), Qt::SmoothTransformation)
            : original;
    const share::Presentation shown =
        share::presentation(turnable, s.displayMode, s.rect, rotated.size());
    turned_ = shown.part == rotated.rect() ? rotated : rotated.copy(shown.part);
    const QRect placed = share::placedRect(shown.placement, turned_.size(), area.size());
    if (shown.placement == share::kAtActualSize) {
      // The part of the picture that lies in the area, unscaled.
      const QPoint origin((area.width() - turned_.width()) / 2,
                          (area.height() - turned_.height()) / 2);
      brush_ = turned_.copy(placed.translated(-origin));
    } else {
      brush_ = turned_.scaled(placed.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    picture_rect_ = placed.translated(area.topLeft());
    placed_ = true;
    board_dirty_ = true;
  }
  painter.drawImage(picture_rect_.topLeft(), brush_);
  // The board, as the canvas laid exactly over the picture draws it.
  if (board_.shapeList().isEmpty() && !board_.currentShape())
    return;
  if (board_dirty_ || board_layer_.size() != picture_rect_.size()) {
    board_layer_ = QImage(picture_rect_.size(), QImage::Format_ARGB32_Premultiplied);
    board_layer_.fill(Qt::transparent);
    QPainter layer(&board_layer_);
    layer.setRenderHint(QPainter::Antialiasing, true);
    board_.paint(layer, picture_rect_.size(), 0);
    board_dirty_ = false;
  }
  painter.drawImage(picture_rect_.topLeft(), board_layer_);
}

void class_view::render_tiles(QPainter& painter, const QRect& area) {
  painter.fillRect(area, kVideoBackground);
  std::vector<uint32_t> order = cameras_;
  std::stable_partition(order.begin(), order.end(), [this](uint32_t u) { return u == starter_; });
  const int count = std::min<int>(int(order.size()), kMaxTiles);
  if (count == 0)
    return;
  const int height = std::min(240, area.height() / count);
  const int width = height * 4 / 3;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  for (int i = 0; i < count; ++i) {
    const QRect tile(area.x() + (area.width() - width) / 2, area.y() + i * height, width, height);
    painter.fillRect(tile.adjusted(1, 1, -1, -1), Qt::black);
    const auto it = frames_.find({order[size_t(i)], 1});
    if (it == frames_.end() || it->second.isNull())
      continue;
    const QSize fitted = it->second.size().scaled(tile.size() - QSize(2, 2), Qt::KeepAspectRatio);
    painter.drawImage(
        QRect(tile.x() + (tile.width() - fitted.width()) / 2,
              tile.y() + (tile.height() - fitted.height()) / 2, fitted.width(), fitted.height()),
        it->second);
  }
}

}  // namespace centra_impl
