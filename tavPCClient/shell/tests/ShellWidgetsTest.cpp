// Message box, toast and drag filter as a user meets them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

#include "PersonalPage.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "TestSupport.h"
#include "WndDragFilter.h"

using testsupport::waitUntil;

namespace {
QPushButton* buttonWithText(QWidget* parent, const QString& text) {
  for (QPushButton* b : parent->findChildren<QPushButton*>())
    if (b->text() == text && b->isVisible())
      return b;
  return nullptr;
}

// Runs fn once the dialog's modal loop is running.
void whenShown(QDialog* dialog, std::function<void()> fn) {
  QTimer::singleShot(0, dialog, [dialog, fn] {
    if (dialog->isVisible())
      fn();
  });
}
}  // namespace

TEST(QNMessageBox, ButtonsAcceptAndReject) {
  QNMessageBox box;
  box.setMessage(QStringLiteral("确定要停课吗？"), QStringLiteral("确定"), QStringLiteral("取消"),
                 -1);
  EXPECT_TRUE(box.buttonsVisible());
  EXPECT_EQ(box.findChild<QLabel*>("msgText")->toolTip(), QStringLiteral("确定要停课吗？"));

  whenShown(&box, [&] {
    QTest::mouseClick(buttonWithText(&box, QStringLiteral("确定")), Qt::LeftButton);
  });
  EXPECT_EQ(box.exec(), QDialog::Accepted);
  whenShown(&box, [&] {
    QTest::mouseClick(buttonWithText(&box, QStringLiteral("取消")), Qt::LeftButton);
  });
  EXPECT_EQ(box.exec(), QDialog::Rejected);
  whenShown(&box,
            [&] { QTest::mouseClick(buttonWithText(&box, QStringLiteral("×")), Qt::LeftButton); });
  EXPECT_EQ(box.exec(), QDialog::Rejected);
}

TEST(QNMessageBox, NoButtonsClosesByItself) {
  QNMessageBox box;
  box.setMessage(QStringLiteral("程序已运行，不能重复运行！"), QString(), QString(), 50);
  EXPECT_FALSE(box.buttonsVisible());
  QTimer guard;  // fails the test rather than hanging it
  guard.setSingleShot(true);
  bool forced = false;
  QObject::connect(&guard, &QTimer::timeout, &box, [&] {
    forced = true;
    box.done(42);
  });
  guard.start(20000);
  EXPECT_EQ(box.exec(), QDialog::Rejected);
  EXPECT_FALSE(forced);
}

TEST(QNMessageBox, NewMessageCancelsEarlierAutoClose) {
  QNMessageBox box;
  box.setMessage("first", QString(), QString(), 0);
  box.setMessage("second", QStringLiteral("确定"), QStringLiteral("取消"), -1);
  bool stillOpen = false;
  // Let the earlier zero-time timer fire if it were still armed, then answer.
  QTimer::singleShot(200, &box, [&] {
    stillOpen = box.isVisible();
    box.accept();
  });
  EXPECT_EQ(box.exec(), QDialog::Accepted);
  EXPECT_TRUE(stillOpen);
}

TEST(QNMessageBox, EscapeDoesNotCloseIt) {
  QNMessageBox box;
  box.setMessage("esc", QStringLiteral("确定"), QStringLiteral("取消"), -1);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  QTest::keyClick(&box, Qt::Key_Escape);
  EXPECT_TRUE(box.isVisible());
  box.close();
}

TEST(Prompt, ShowsCentredReplacesAndHidesAfterTimeout) {
  QWidget window;
  window.resize(600, 400);
  window.show();
  Prompt* prompt = Prompt::instance();
  prompt->showMessage(&window, QStringLiteral("保存成功！"));
  EXPECT_EQ(prompt->parentWidget(), &window);
  EXPECT_TRUE(prompt->isVisible());
  EXPECT_EQ(prompt->text(), QStringLiteral("保存成功！"));
  EXPECT_EQ(prompt->toolTip(), QStringLiteral("保存成功！"));
  const QPoint centre = prompt->geometry().center();
  EXPECT_NEAR(centre.x(), 300, 2);
  EXPECT_NEAR(centre.y(), 200, 2);

  prompt->showMessage(&window, QStringLiteral("授权码错误！"));
  EXPECT_EQ(prompt->text(), QStringLiteral("授权码错误！"));
  EXPECT_TRUE(waitUntil([&] { return !prompt->isVisible(); }, 20000));
}

TEST(Prompt, SurvivesTheWindowItSatOn) {
  auto window = std::make_unique<QWidget>();
  window->resize(300, 200);
  Prompt::instance()->showMessage(window.get(), "one");
  window.reset();  // takes the toast with it
  QWidget other;
  other.resize(300, 200);
  other.show();
  Prompt* again = Prompt::instance();
  ASSERT_NE(again, nullptr);
  again->showMessage(&other, "two");
  EXPECT_EQ(again->parentWidget(), &other);
  EXPECT_TRUE(again->isVisible());
}

TEST(WndDragFilter, DraggingMovesTheWindow) {
  QWidget window(nullptr, Qt::FramelessWindowHint);
  window.resize(200, 150);
  window.move(100, 100);
  window.installEventFilter(new WndDragFilter(&window));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QPoint start = window.pos();

  QTest::mousePress(&window, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  QMouseEvent move(QEvent::MouseMove, QPointF(40, 30), QPointF(window.mapToGlobal(QPoint(40, 30))),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &move);
  QTest::mouseRelease(&window, Qt::LeftButton, Qt::NoModifier, QPoint(40, 30));
  EXPECT_EQ(window.pos(), start + QPoint(30, 20));

  // Moving without a button after release does nothing.
  const QPoint after = window.pos();
  QMouseEvent idle(QEvent::MouseMove, QPointF(80, 80), QPointF(window.mapToGlobal(QPoint(80, 80))),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &idle);
  EXPECT_EQ(window.pos(), after);
}

// A personal page opens only with a key; each way of not getting one says why.
TEST(PersonalPage, EveryFailureHasItsTextAndOpensNothing) {
  QWidget window;
  window.show();
  const char* page = "tavolin/views/personalCenter/rechargeCenter.html?Keycode=%1";
  const struct {
    QJsonObject answer;
    const char* pattern;
    QString toast;
  } cases[] = {
      {QJsonObject{}, page, QStringLiteral("网络异常，请检查网络后重试！")},
      {QJsonObject{{"code", 3}, {"msg", "登录已过期"}}, page, QStringLiteral("登录已过期")},
      {QJsonObject{{"msg", "无代码"}}, page, QStringLiteral("无代码")},
      {QJsonObject{{"code", 0}, {"body", ""}}, page, QStringLiteral("网页地址异常！")},
      {QJsonObject{{"code", 0}, {"body", "k1"}}, nullptr, QStringLiteral("网页地址异常！")},
  };
  for (const auto& c : cases) {
    Prompt::instance()->setText(QString());
    EXPECT_FALSE(personalpage::openFromAnswer(&window, c.answer, c.pattern));
    EXPECT_EQ(Prompt::instance()->text(), c.toast);
  }
}
