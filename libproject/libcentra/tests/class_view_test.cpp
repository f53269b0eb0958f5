// The recorder's view of the class drawn offscreen as the members' windows show it: a shared
// document fitted into the content area, the board's stroke over it at its place, a page
// turn and a quarter turn, the default pen of whoever takes the board, the cameras' tiles
// beside it; and the sound's track with its gaps
// filled and late sound shortened.
#include <gtest/gtest.h>

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <vector>

#include "audio_timeline.h"
#include "class_view.h"
#include "control_wire.h"

namespace {

using centra_impl::audio_timeline;
using centra_impl::class_view;

constexpr uint32_t kTeacher = 10001, kStudent = 10003;
constexpr uint32_t kOwn = kTeacher | pavo_wire::recorder_id_bit;

struct fake_link : centra_impl::class_link {
  std::vector<std::pair<uint32_t, QJsonObject>> sent;
  std::vector<std::pair<uint32_t, int>> subscribed;
  std::map<std::string, std::string> wanted;  // key -> remote name
  int asked_sharer = 0;
  void send_to(uint32_t user, const QByteArray& text) override {
    sent.emplace_back(user, QJsonDocument::fromJson(text).object());
  }
  void subscribe(uint32_t user, int kind) override { subscribed.emplace_back(user, kind); }
  void unsubscribe(uint32_t, int) override {}
  void ask_sharer() override { ++asked_sharer; }
  void want_local(const std::string& key, const std::string& path) override { wanted[key] = path; }
  void want_remote(const std::string& key, uint32_t, const std::string& name) override {
    wanted[key] = name;
  }
};

QByteArray json(const QJsonObject& o) {
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QImage filled(int w, int h, QColor colour) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

QColor at(const QImage& frame, int x, int y) {
  return QColor(frame.pixel(x, y));
}

bool near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
         std::abs(a.blue() - b.blue()) < 40;
}

TEST(ClassView, DrawsTheSharedPageTheBoardAndTheTilesAsTheClassSeesThem) {
  fake_link link;
  class_view view(kOwn, false, link);
  QImage frame(class_view::kWidth, class_view::kHeight, QImage::Format_RGB32);
  const auto now = std::chrono::steady_clock::now();

  // Joining a running class: the board is asked of its starter, what is shown of the sharer.
  view.joined(true, kTeacher);
  ASSERT_EQ(link.sent.size(), 1u);
  EXPECT_EQ(link.sent[0].first, kTeacher);
  EXPECT_EQ(link.sent[0].second.value("typeId").toInt(), 108);
  EXPECT_EQ(link.asked_sharer, 1);
  view.sharer_known(kTeacher);
  ASSERT_EQ(link.sent.size(), 2u);
  EXPECT_EQ(link.sent[1].second.value("typeId").toString(), "71");
  view.peer_message(kTeacher, json({{"typeId", 109}, {"content", "-1"}}));

  // A document of two pages, 800x600: fitted into the 960x720 content area.
  view.peer_message(kTeacher, json({{"typeId", "72"},
                                    {"fileType", "3"},
                                    {"fileName", "lesson"},
                                    {"fileUploaderUserId", double(kTeacher)},
                                    {"id", 5},
                                    {"curPage", 1},
                                    {"totalPageCount", 2},
                                    {"curRotateAngle", 0},
                                    {"picDispMode", 0}}));
  ASSERT_EQ(link.wanted.count("r:10001/lesson_1.png"), 1u);
  EXPECT_EQ(link.wanted["r:10001/lesson_1.png"], "lesson_1.png");
  ASSERT_EQ(link.wanted.count("r:10001/lesson_2.png"), 1u) << "the next page comes ahead";
  view.picture_arrived("r:10001/lesson_1.png", filled(800, 600, Qt::red));
  view.picture_arrived("r:10001/lesson_2.png", filled(800, 600, Qt::green));
  view.render(frame, now);
  EXPECT_EQ(view.picture_rect(), QRect(0, 0, 960, 720));
  EXPECT_TRUE(near(at(frame, 100, 100), Qt::red));

  // A blue stroke across the middle, drawn with the board's pen.
  view.peer_message(kTeacher,
                    json({{"typeId", 111},
                          {"penShapeType", 1},
                          {"penWidth", 20},
                          {"penColor", QJsonObject{{"r", 0}, {"g", 0}, {"b", 255}, {"a", 255}}}}));
  const double xs[] = {0.1, 0.4, 0.6, 0.9};
  for (int i = 0; i < 4; ++i)
    view.peer_message(kTeacher, json({{"typeId", 100},
                                      {"sendUserId", double(kTeacher)},
                                      {"content", i == 0 ? 1 : 2},
                                      {"x", xs[i]},
                                      {"y", 0.5}}));
  view.peer_message(kTeacher, json({{"typeId", 100}, {"content", 3}}));
  view.render(frame, now);
  EXPECT_TRUE(near(at(frame, 480, 360), Qt::blue));
  EXPECT_TRUE(near(at(frame, 480, 300), Qt::red));

  // The page turned, then the page turned a quarter: 600x800 fitted is 540 wide, centred.
  view.peer_message(kTeacher, json({{"typeId", "74"}, {"curPage", 2}}));
  view.render(frame, now);
  EXPECT_TRUE(near(at(frame, 100, 100), Qt::green));
  view.peer_message(kTeacher, json({{"typeId", "73"}, {"curRotateAngle", 90}}));
  view.render(frame, now);
  EXPECT_EQ(view.picture_rect(), QRect(210, 0, 540, 720));
  EXPECT_TRUE(near(at(frame, 100, 100), QColor(0x20, 0x20, 0x20)));
  EXPECT_TRUE(near(at(frame, 480, 100), Qt::green));

  // Whoever takes the board next starts with the default pen (red, 2 pixels), as every
  // member's toolbar does.
  view.peer_message(kTeacher, json({{"typeId", 101}, {"sendUserId", double(kTeacher)}}));
  for (int i = 0; i < 4; ++i)
    view.peer_message(kTeacher, json({{"typeId", 100},
                                      {"sendUserId", double(kTeacher)},
                                      {"content", i == 0 ? 1 : 2},
                                      {"x", xs[i]},
                                      {"y", 0.8}}));
  view.peer_message(kTeacher, json({{"typeId", 100}, {"content", 3}}));
  view.render(frame, now);
  EXPECT_TRUE(near(at(frame, 480, 576), Qt::red));

  // A camera: subscribed, its picture in the first tile of the video area.
  view.stream_opened(kStudent, 1);
  EXPECT_EQ(link.subscribed, (std::vector<std::pair<uint32_t, int>>{{kStudent, 1}}));
  view.frame(kStudent, 1, filled(640, 480, Qt::yellow));
  view.render(frame, now);
  EXPECT_TRUE(near(at(frame, 1120, 120), Qt::yellow));
  EXPECT_FALSE(near(at(frame, 1120, 400), Qt::yellow));

  // The class ends: nothing in the content area.
  view.class_stopped();
  view.render(frame, now);
  EXPECT_TRUE(near(at(frame, 480, 360), QColor(0x20, 0x20, 0x20)));
}

TEST(AudioTimeline, SoundLiesWhereItBelongsGapsAreSilentLateSoundIsShortened) {
  audio_timeline track;
  const int64_t rate = audio_timeline::kRate;
  std::vector<int16_t> piece(960 * 2, 1000);  // 20 ms
  // Arrived at 1000 ms: it belongs 350 ms earlier.
  track.add(1000, piece.data(), 960);
  std::vector<int16_t> out;
  EXPECT_EQ(track.take_until(1400, &out), size_t(rate * 700 / 1000));
  const size_t start = size_t(rate * 650 / 1000) * 2;
  EXPECT_EQ(out[start - 2], 0);
  EXPECT_EQ(out[start], 1000);
  EXPECT_EQ(out[start + 959 * 2], 1000);
  EXPECT_EQ(out[start + 960 * 2], 0);
  // Sound that belonged 200 ms before where the track stands (700 ms): what overlaps the
  // written track is cut, its last 110 ms are kept.
  std::vector<int16_t> late(rate / 4 * 2, 2000);  // 250 ms
  track.add(500 + 350, late.data(), late.size() / 2);
  out.clear();
  track.take_until(1500, &out);
  const auto kept = std::count(out.begin(), out.end(), 2000) / 2;
  EXPECT_GT(kept, rate * 40 / 1000);
  EXPECT_LT(kept, rate * 120 / 1000);
  EXPECT_EQ(track.written(), rate * 800 / 1000);
}

}  // namespace
