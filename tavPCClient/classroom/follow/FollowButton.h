// Following the room from inside the classroom: "关注" / "取消关注" with its
// picture, asking the service to follow or unfollow; the state comes with the
// classroom's start-up answers.
#pragma once

#include <QJsonObject>
#include <QPushButton>

class ClassroomContext;

class FollowButton : public QPushButton {
  Q_OBJECT

public:
  explicit FollowButton(ClassroomContext& context, QWidget* parent = nullptr);

  bool followed() const { return followed_; }

public slots:
  void btnAttention_clicked();
  void onAttention_back(QJsonObject answer);
  void onCancelAttention_back(QJsonObject answer);
  // The room's followed state changed elsewhere (the courseware player).
  void slot_FollowChange(bool followed);

private:
  void display(bool followed);

  ClassroomContext& context_;
  bool followed_ = false;
};
