// Shapes from other members: the text form, shape objects and bad values.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <cmath>
#include <limits>

#include "VWBounds.h"
#include "VWLines.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"

namespace {

using vw::VWPaintWidget;

TEST(VWBoardInputTest, TextFormSetsThePenAndAddsShapes) {
  VWPaintWidget canvas(nullptr, nullptr);
  canvas.setShape(1);
  canvas.addShape({{"sharptype", "3"}, {"sharpcolor", "0,255,0,128"}, {"sharpwidth", "4"},
                   {"points", "0.1,0.2|0.5,0.6"}});
  ASSERT_EQ(canvas.shapeList().size(), 1);
  EXPECT_EQ(canvas.shapeList()[0]->property(), (VWShapeProperty{3, 0, 255, 0, 128, 4}));
  EXPECT_EQ(canvas.shapeList()[0]->endPoint(), QPointF(0.5, 0.6));
  canvas.addShape({{"append", "true"}, {"points", "0.7,0.7|0.8,0.8"}});  // current is a rectangle
  canvas.addShape({{"sharptype", "1"}, {"points", "0.1,0.1|0.2,0.2"}});
  canvas.addShape({{"append", "true"}, {"points", "0.3,0.3|bad|0.4,0.4"}});
  auto lines = std::dynamic_pointer_cast<vw::VWLines>(canvas.shapeList().last());
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->points(), (QVector<QPointF>{{0.2, 0.2}, {0.3, 0.3}, {0.4, 0.4}}));
  canvas.addShape({{"sharptype", "2"}, {"points", "0.1,0.1"}});  // one pair: no shape
  canvas.addShape({{"sharptype", "6"}, {"points", "0.1,0.1|0.2,0.2"}});
  EXPECT_EQ(canvas.shapeList().size(), 2);
}

TEST(VWBoardInputTest, BadCoordinatesAreIgnoredOrClampedAndCapsHold) {
  VWPaintWidget canvas(nullptr, nullptr);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  canvas.setShape(1);
  canvas.beginShape({nan, 0.5});
  EXPECT_FALSE(canvas.currentShape());
  canvas.beginShape({0.5, 0.5});
  canvas.continueShape({std::numeric_limits<double>::infinity(), 0.1});
  canvas.continueShape({1e300, -1e300});
  for (int i = 0; i < vw::kMaxPointsPerShape + 50; ++i)
    canvas.continueShape({0.001 * (i % 1000), 0.3});
  canvas.finishShape();
  ASSERT_EQ(canvas.shapeList().size(), 1);
  auto lines = std::dynamic_pointer_cast<vw::VWLines>(canvas.shapeList()[0]);
  EXPECT_EQ(lines->points().size(), vw::kMaxPointsPerShape);
  EXPECT_EQ(lines->points()[1], QPointF(16.0, -16.0));
  canvas.setShapeWidth(1 << 30);
  EXPECT_EQ(canvas.pen().width, vw::kMaxPenWidth);

  canvas.resize(320, 240);
  QImage image(canvas.size(), QImage::Format_ARGB32_Premultiplied);
  canvas.render(&image);  // huge but clamped values draw without harm

  canvas.setShape(2);
  for (int i = 0; i < vw::kMaxShapesPerBoard + 10; ++i) {
    canvas.beginShape({0.1, 0.1});
    canvas.continueShape({0.2, 0.2 + 1e-6 * i});
    canvas.finishShape();
  }
  EXPECT_EQ(canvas.shapeList().size(), vw::kMaxShapesPerBoard);
}

TEST(VWBoardInputTest, ShapeObjectsWithStringOrNumberPointsGiveTheSameBoard) {
  auto board = [](const char* json) {
    VWPaintWidget canvas(nullptr, nullptr);
    QJsonArray shapes = QJsonDocument::fromJson(json).array();
    canvas.initShapeList(shapes);
    return std::make_pair(canvas.shapeList().size(), vw::VWShapeDigest::digest(canvas.shapeList()));
  };
  const auto numbers = board(
      R"([{"shapeType":3,"shapeColor":{"r":0,"g":0,"b":255,"a":255},"lineWidth":2,
           "points":[{"x":0.1234567,"y":0.2},{"x":0.5,"y":0.6}]},
          {"shapeType":6,"points":[{"x":0.1,"y":0.1},{"x":0.2,"y":0.2}]},
          {"shapeType":1,"points":[{"x":0.1,"y":0.1},{"x":"nan","y":0.1},{"x":0.3,"y":0.4}]}])");
  const auto strings = board(
      R"([{"shapeType":3,"shapeColor":{"r":0,"g":0,"b":255,"a":255},"lineWidth":2,
           "points":[{"x":"0.123457","y":"0.2"},{"x":"0.5","y":"0.6"}]},
          {"shapeType":1,"points":[{"x":0.1,"y":0.1},{"x":"0.3","y":"0.4"}]}])");
  EXPECT_EQ(numbers.first, 2);
  EXPECT_EQ(numbers, strings);
  const auto otherColour = board(
      R"([{"shapeType":3,"shapeColor":{"r":0,"g":0,"b":254,"a":255},"lineWidth":2,
           "points":[{"x":"0.123457","y":"0.2"},{"x":"0.5","y":"0.6"}]},
          {"shapeType":1,"points":[{"x":0.1,"y":0.1},{"x":"0.3","y":"0.4"}]}])");
  EXPECT_NE(otherColour.second, strings.second);
}

}  // namespace
