// The phone app against a scripted PC: pairing, what the phone sends, and
// what it shows of what the PC sends.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>

#include "ClassPage.h"
#include "FakePc.h"
#include "PairingPage.h"
#include "PhoneCanvasLink.h"
#include "PhoneLinkClient.h"
#include "PhoneWindow.h"
#include "RoomMessage.h"
#include "SharedView.h"
#include "TestSupport.h"
#include "VWAnnoHandler.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"

namespace {

using testsupport::waitUntil;

struct Phone {
  FakePc pc;
  PhoneWindow window;

  Phone() {
    window.resize(420, 800);
    window.show();
  }
  void link() {
    ASSERT_TRUE(window.pair(pc.pairing()));
    ASSERT_TRUE(waitUntil([&] { return window.link()->isLinked() && window.showsClass(); }));
  }
  void grantRights(int code) {
    pc.sendRights(code);
    const bool writes = code == 2 || code == 3;
    ASSERT_TRUE(waitUntil([&] {
      return window.sharedView()->canvasLink()->ownsAnnotation() == writes &&
             window.classPage()->rightsText() ==
                 (writes ? QStringLiteral("可以在白板上书写") : QStringLiteral("老师未授权板书"));
    }));
  }
  // A finger on the canvas, at fractions of its size.
  void draw(const QList<QPointF>& points) {
    vw::VWPaintWidget* canvas = window.sharedView()->canvas();
    auto at = [canvas](QPointF p) {
      return QPoint(int(p.x() * canvas->width()), int(p.y() * canvas->height()));
    };
    QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, at(points.first()));
    for (int i = 1; i < points.size(); ++i) {
      QMouseEvent move(QEvent::MouseMove, at(points[i]), Qt::NoButton, Qt::LeftButton,
                       Qt::NoModifier);
      QCoreApplication::sendEvent(canvas, &move);
    }
    QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, at(points.last()));
  }
  std::vector<QJsonObject> received(std::uint32_t type) const {
    std::vector<QJsonObject> out;
    for (const auto& p : pc.received())
      if (p.type == type && !p.body.empty())
        out.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(p.body)).object());
    return out;
  }
};

QByteArray sha256(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// A 200x100 picture, red on the left half and blue on the right.
QByteArray twoColourPng(QColor left, QColor right) {
  QImage image(200, 100, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.fillRect(0, 0, 100, 100, left);
  painter.fillRect(100, 0, 100, 100, right);
  painter.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

TEST(PhoneLinkTest, AWrongMissingOrUnansweredPairingSendsTheUserBackToPairing) {
  Phone phone;
  QSignalSpy refused(phone.window.link(), &PhoneLinkClient::refused);
  QSignalSpy unreachable(phone.window.link(), &PhoneLinkClient::unreachable);
  EXPECT_FALSE(phone.window.pair(QStringLiteral("不是二维码")));

  ASSERT_TRUE(
      phone.window.pair(phone.pc.pairing(QStringLiteral("ffffffffffffffffffffffffffffffff"))));
  ASSERT_TRUE(waitUntil([&] { return refused.size() == 1; }));
  ASSERT_TRUE(phone.window.pair(QStringLiteral("127.0.0.1:%1").arg(phone.pc.port())));
  ASSERT_TRUE(waitUntil([&] { return refused.size() == 2; }));
  EXPECT_FALSE(phone.window.showsClass());
  EXPECT_EQ(phone.window.pairingPage()->status(), QStringLiteral("配对码无效或已过期，请重新扫码"));
  EXPECT_EQ(phone.pc.connections(), 2);
  EXPECT_TRUE(phone.pc.received().empty()) << "nothing is read before a right hello";

  phone.pc.drop(true);
  ASSERT_TRUE(phone.window.pair(phone.pc.pairing()));
  ASSERT_TRUE(waitUntil([&] { return unreachable.size() == 1; }));
  EXPECT_EQ(refused.size(), 2);
  EXPECT_FALSE(phone.window.showsClass());
}

TEST(PhoneLinkTest, TheBoardIsAskedForAndOwnStrokesLeaveOnlyWithTheRightToWrite) {
  Phone phone;
  phone.link();
  ASSERT_GE(phone.pc.received().size(), 2u);
  EXPECT_EQ(phone.pc.received()[0].type, phonewire::kHello);
  EXPECT_TRUE(phone.pc.received()[1].board_request()) << "the board is asked for right away";

  // Without the right the finger draws nothing and nothing leaves: the chat
  // line sent after the stroke is the next thing the PC gets.
  phone.grantRights(1);
  phone.draw({{0.2, 0.2}, {0.5, 0.5}, {0.8, 0.3}});
  ASSERT_TRUE(phone.window.sendChat(QStringLiteral("老师好")));
  ASSERT_TRUE(waitUntil([&] { return !phone.received(phonewire::kRoomJson).empty(); }));
  EXPECT_TRUE(phone.received(phonewire::kJson).empty());
  EXPECT_EQ(phone.received(phonewire::kRoomJson)[0],
            (QJsonObject{{"typeId", "0"}, {"content", QStringLiteral("老师好")}}));
  EXPECT_TRUE(phone.window.sharedView()->canvas()->shapeList().isEmpty());
  EXPECT_FALSE(phone.window.sendChat(QStringLiteral("   ")));

  // With it the stroke goes out in order, without a sender: the PC names it.
  phone.grantRights(3);
  QSignalSpy strokes(phone.window.link(), &PhoneLinkClient::strokeSent);
  phone.draw({{0.25, 0.5}, {0.5, 0.25}, {0.75, 0.75}});
  ASSERT_TRUE(waitUntil([&] { return strokes.size() == 1; }));
  const auto sent = phone.received(phonewire::kJson);
  ASSERT_EQ(sent.size(), 4u);
  const int phases[] = {1, 2, 2, 3};
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].value("typeId").toInt(), 100);
    EXPECT_EQ(sent[i].value("content").toInt(), phases[i]);
    EXPECT_FALSE(sent[i].contains("sendUserId"));
  }
  const vw::VWPaintWidget* canvas = phone.window.sharedView()->canvas();
  EXPECT_NEAR(sent[0].value("x").toDouble(), 0.25, 1.0 / canvas->width());
  EXPECT_NEAR(sent[1].value("y").toDouble(), 0.25, 1.0 / canvas->height());
  EXPECT_EQ(canvas->shapeList().size(), 1);
}

TEST(PhoneLinkTest, TheNewestFileIsShownTurnedByTheShareRotation) {
  Phone phone;
  phone.link();
  SharedView* view = phone.window.sharedView();
  QSignalSpy shown(view, &SharedView::shownChanged);
  auto shows = [&](const QByteArray& sha, int rotation) {
    return waitUntil([&] {
      return !shown.isEmpty() && shown.last()[0].toByteArray() == sha &&
             shown.last()[1].toInt() == rotation;
    });
  };
  const QByteArray first = twoColourPng(Qt::red, Qt::blue);
  phone.pc.sendJson(
      phonewire::kRoomJson,
      {{"typeId", "72"}, {"fileType", "2"}, {"fileName", "a.png"}, {"curRotateAngle", 0}});
  phone.pc.sendFile(first, ".png");
  ASSERT_TRUE(shows(sha256(first), 0));

  phone.pc.sendJson(phonewire::kRoomJson, {{"typeId", "73"}, {"curRotateAngle", 90}});
  ASSERT_TRUE(shows(sha256(first), 90));
  // Turned a quarter clockwise: upright and twice as tall as wide, the left
  // half on top, with the canvas exactly over it.
  const QRect rect = view->pictureRect();
  EXPECT_NEAR(double(rect.height()) / rect.width(), 2.0, 0.05);
  EXPECT_EQ(view->canvas()->geometry(), rect);
  const QImage drawn = view->grab().toImage();
  EXPECT_EQ(QColor(drawn.pixel(rect.center().x(), rect.top() + rect.height() / 4)),
            QColor(Qt::red));
  EXPECT_EQ(QColor(drawn.pixel(rect.center().x(), rect.bottom() - rect.height() / 4)),
            QColor(Qt::blue));

  // A new page keeps the turn until the page turn sets it upright.
  const QByteArray second = twoColourPng(Qt::green, Qt::yellow);
  phone.pc.sendFile(second, ".png");
  ASSERT_TRUE(shows(sha256(second), 90));
  phone.pc.sendJson(phonewire::kRoomJson, {{"typeId", "74"}, {"curPage", 2}});
  ASSERT_TRUE(shows(sha256(second), 0));
  EXPECT_NEAR(double(view->pictureRect().width()) / view->pictureRect().height(), 2.0, 0.05);
}

TEST(PhoneLinkTest, MirroredBoardMessagesBuildTheClassBoard) {
  Phone phone;
  phone.link();
  auto point = [](int phase, double x, double y) {
    QJsonObject msg{{"typeId", 100}, {"sendUserId", 10001}, {"content", phase}};
    if (phase != 3) {
      msg.insert("x", x);
      msg.insert("y", y);
    }
    return msg;
  };
  const QJsonObject red{{"r", 255}, {"g", 0}, {"b", 0}, {"a", 255}};
  const QJsonObject shape{{"shapeType", 1},
                          {"lineWidth", 6},
                          {"shapeColor", red},
                          {"points", QJsonArray{QJsonObject{{"x", 0.1}, {"y", 0.9}},
                                                QJsonObject{{"x", 0.3}, {"y", 0.7}}}}};
  const std::vector<QJsonObject> messages = {
      // The board answer: the pen, then a shape, both without a sender.
      {{"typeId", 111}, {"penShapeType", 1}, {"penWidth", 3}, {"penColor", red}},
      {{"typeId", 109}, {"content", shape}},
      // Live: a stroke, the tool notice, a rectangle, an undone line.
      point(1, 0.1, 0.1),
      point(2, 0.2, 0.3),
      point(2, 0.4, 0.2),
      point(3, 0, 0),
      {{"typeId", "103"}, {"sendUserId", 10001}, {"content", "3"}},
      {{"typeId", 103}, {"sendUserId", 10001}, {"content", 3}},
      point(1, 0.5, 0.5),
      point(2, 0.7, 0.8),
      point(3, 0, 0),
      {{"typeId", 103}, {"sendUserId", 10001}, {"content", 2}},
      point(1, 0.6, 0.1),
      point(2, 0.9, 0.2),
      point(3, 0, 0),
      {{"typeId", 103}, {"sendUserId", 10001}, {"content", 8}},
  };
  vw::VWPaintWidget reference(nullptr, nullptr);
  for (const QJsonObject& msg : messages) {
    for (const auto& action : vw::handleAnnoMessage({0, true}, msg))
      reference.apply(action);
    phone.pc.sendJson(phonewire::kJson, msg);
  }
  ASSERT_EQ(reference.shapeList().size(), 3);
  const QByteArray digest = vw::VWShapeDigest::digest(reference.shapeList());
  QSignalSpy board(phone.window.sharedView(), &SharedView::boardChanged);
  ASSERT_TRUE(waitUntil([&] {
    return !board.isEmpty() && board.last()[0].toInt() == 3 &&
           board.last()[1].toByteArray() == digest;
  }));

  // Clearing is mirrored too.
  phone.pc.sendJson(phonewire::kJson, {{"typeId", 103}, {"content", 10}});
  ASSERT_TRUE(waitUntil([&] { return board.last()[0].toInt() == 0; }));
}

TEST(PhoneLinkTest, ADroppedLinkIsTriedAgainAndGivenUpWhenThePcIsGone) {
  Phone phone;
  PhoneLinkClient::Timing quick;
  quick.retryPausesMs = {20, 20};
  phone.window.link()->setTiming(quick);
  QSignalSpy lost(phone.window.link(), &PhoneLinkClient::lost);
  QSignalSpy gaveUp(phone.window.link(), &PhoneLinkClient::gaveUp);
  QSignalSpy connecting(phone.window.link(), &PhoneLinkClient::connecting);
  phone.link();

  // The PC still listens: the phone is back, and asks for the board again.
  phone.pc.drop(false);
  ASSERT_TRUE(waitUntil([&] { return lost.size() == 1; }));
  EXPECT_TRUE(phone.window.classPage()->status().startsWith(QStringLiteral("与电脑的连接已断开")));
  EXPECT_FALSE(phone.window.sharedView()->canvasLink()->ownsAnnotation());
  auto boardRequests = [&] {
    return std::count_if(phone.pc.received().begin(), phone.pc.received().end(),
                         [](const phonewire::packet& p) { return p.board_request(); });
  };
  ASSERT_TRUE(waitUntil([&] { return phone.window.link()->isLinked() && boardRequests() == 2; }));
  EXPECT_EQ(phone.pc.connections(), 2);

  // The PC went away with its server: two more rounds, then pairing again.
  const int before = connecting.size();
  phone.pc.drop(true);
  ASSERT_TRUE(waitUntil([&] { return gaveUp.size() == 1; }));
  EXPECT_EQ(lost.size(), 2);
  EXPECT_EQ(connecting.size() - before, 2);
  EXPECT_FALSE(phone.window.showsClass());
  EXPECT_EQ(phone.window.pairingPage()->status(), QStringLiteral("连接已断开，请重新扫码配对"));
}

}  // namespace
