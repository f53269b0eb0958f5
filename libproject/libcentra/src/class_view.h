// The class as its students see it, kept by the recorder and drawn offscreen: the teaching
// content area (the shared template, picture or document page turned and placed by the
// shared area's rules, the whiteboard over it drawn with the board's own shapes, or the
// shared screen) and, beside it, the video area (the members' cameras). It follows what a
// member hears: the class and share floors, the streams, the room's share and board messages
// (ShareState and VWAnnoHandler decide, as in every member's window), and asks the class
// starter for the board and the sharer for what is shown when the class runs already.
// Everything here runs on the recorder's thread; pictures are painted with QPainter on a
// QImage (never a widget).
#pragma once

#include <QImage>
#include <QJsonObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ShareState.h"
#include "VWBoard.h"
#include "VWClassroomLink.h"
#include "VWSharedPictureDisplay.h"

namespace centra_impl {

// What the view asks of the class.
class class_link {
public:
  virtual ~class_link() = default;
  virtual void send_to(uint32_t user, const QByteArray& text) = 0;  // a one-to-one peer message
  virtual void subscribe(uint32_t user, int kind) = 0;
  virtual void unsubscribe(uint32_t user, int kind) = 0;
  virtual void ask_sharer() = 0;  // the share floor's holder (answered with shared_by)
  // A picture for `key`: a file of this machine, or one of the room's files.
  virtual void want_local(const std::string& key, const std::string& path) = 0;
  virtual void want_remote(const std::string& key, uint32_t uploader, const std::string& name) = 0;
};

class class_view : private vw::VWClassroomLink, private vw::VWSharedPictureDisplay {
public:
  static constexpr int kWidth = 1280;
  static constexpr int kHeight = 720;
  // The video area beside the content: a column of this width with at most kMaxTiles tiles
  // (4:3, at most 320x240 each).
  static constexpr int kVideoWidth = 320;
  static constexpr int kMaxTiles = 6;
  // How long the answer to a board request may take; strokes wait meanwhile.
  static constexpr std::chrono::milliseconds kAwaitBoard{5000};

  class_view(uint32_t own_id, bool content_only, class_link& link);
  ~class_view() override;

  // The recorder joined the class: whether a class runs and who started it.
  void joined(bool running, uint32_t starter);
  void class_started(uint32_t starter);
  void class_stopped();
  // Who holds the share floor, as the recorder learned it when it joined (0: nobody): it is
  // asked what it shows.
  void sharer_known(uint32_t user);
  void shared_by(uint32_t user);  // the share floor taken while the recorder is there
  void share_ended(uint32_t user);
  void stream_opened(uint32_t user, int kind);
  void stream_closed(uint32_t user, int kind);
  void user_left(uint32_t user);
  void peer_message(uint32_t sender, const QByteArray& text);
  void picture_arrived(const std::string& key, const QImage& picture);
  // The newest picture of a stream (the view keeps the newest only).
  void frame(uint32_t user, int kind, const QImage& picture);

  // Draws the class as it is now into `target` (kWidth x kHeight, RGB32).
  void render(QImage& target, std::chrono::steady_clock::time_point now);

  // For tests: where the content's picture lies in the frame.
  QRect picture_rect() const { return picture_rect_; }
  bool class_running() const { return running_; }

private:
  // VWClassroomLink and VWSharedPictureDisplay: the eraser paints the picture back.
  vw::VWSharedPictureDisplay* sharedPictureDisplay() override { return this; }
  quint32 ownUserId() const override { return own_id_; }
  QPixmap shownPixmap() const override { return QPixmap(); }
  QBrush pictureBrush() const override;

  void show_blank_board();
  void follow(ShareState::Change change);
  void want_shown_file();
  void board_message(QJsonObject msg);
  void ask_for_board(uint32_t starter);
  void update_subscriptions();
  QRect content_area() const;
  void render_content(QPainter& painter, const QRect& area);
  void render_tiles(QPainter& painter, const QRect& area);
  std::string key_of_page(int page) const;

  const uint32_t own_id_;
  const bool content_only_;
  class_link& link_;
  ShareState share_;
  vw::VWBoard board_;

  bool running_ = false;
  uint32_t starter_ = 0;
  uint32_t sharer_ = 0;
  std::vector<uint32_t> cameras_;        // camera publishers, in order of their first stream
  std::map<uint32_t, bool> subscribed_;  // camera subscriptions made
  uint32_t screen_ = 0;                  // who publishes a screen share (0: nobody)
  std::map<std::pair<uint32_t, int>, QImage> frames_;

  std::map<std::string, QImage> pictures_;  // by key; the shown one and the next page
  std::string wanted_;                      // the key of the file to show
  std::string shown_;                       // the key of the file shown
  QImage turned_;                           // the shown picture turned and cut, as placed
  QImage brush_;                            // the same at the size it is drawn
  QRect picture_rect_;
  bool placed_ = false;
  QImage board_layer_;  // the board as last drawn, over the picture
  bool board_dirty_ = true;

  bool awaiting_board_ = false;
  bool board_shape_seen_ = false;
  std::chrono::steady_clock::time_point await_until_{};
};

}  // namespace centra_impl
