#include "ClassroomHeader.h"

#include <QEvent>

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>

#include "RoomSession.h"
#include "WndDragFilter.h"

namespace {

QPushButton* headerButton(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setCursor(Qt::PointingHandCursor);
  return b;
}

}  // namespace

ClassroomHeader::ClassroomHeader(const QString& roomName, const QString& teacherName,
                                 RoomSession& session, QWidget* parent)
    : QWidget(parent), session_(session) {
  setObjectName(QStringLiteral("classroomHeader"));
  setAttribute(Qt::WA_StyledBackground);
  setFixedHeight(52);
  // Dragging moves the window from here only, not from the teaching area.
  installEventFilter(new WndDragFilter(this));

  auto* title = new QLabel(roomName, this);
  title->setObjectName(QStringLiteral("classroomTitle"));
  title->setTextFormat(Qt::PlainText);  // names come from the service as users typed them
  auto* teacher = new QLabel(QStringLiteral("老师：") + teacherName, this);
  teacher->setObjectName(QStringLiteral("classroomTeacher"));
  teacher->setTextFormat(Qt::PlainText);
  classState_ = new QLabel(this);
  classState_->setObjectName(QStringLiteral("classState"));
  classState_->setFixedHeight(24);
  classState_->setAlignment(Qt::AlignCenter);

  toolSelector_ = new QComboBox(this);
  toolSelector_->setObjectName(QStringLiteral("toolSelector"));
  toolSelector_->setPlaceholderText(QStringLiteral("教具选择"));
  toolSelector_->setCurrentIndex(-1);
  // The popup's items drawn by the item view's own rules, not in the selector's light text.
  toolSelector_->setItemDelegate(new QStyledItemDelegate(toolSelector_));
  connect(toolSelector_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
    // The selector names the tool, it does not keep a choice.
    toolSelector_->setCurrentIndex(-1);
    if (index >= 0 && index < toolEntries_.size() && toolEntries_[index])
      toolEntries_[index]();
  });
  start_ = headerButton(QStringLiteral("上课"), "btnStartClass", this);
  stop_ = headerButton(QStringLiteral("下课"), "btnStopClass", this);
  auto* leave = headerButton(QStringLiteral("✕"), "btnLeave", this);
  leave->setToolTip(QStringLiteral("离开教室"));
  connect(start_, &QPushButton::clicked, this, &ClassroomHeader::startClassClicked);
  connect(stop_, &QPushButton::clicked, this, &ClassroomHeader::stopClassClicked);
  // 下课 takes 上课's place when the class starts: the second half of a double
  // click on 上课 lands on it and must not stop the class it just started.
  stop_->installEventFilter(this);
  connect(leave, &QPushButton::clicked, this, &ClassroomHeader::leaveClicked);

  teacherOnly_ = new QWidget(this);
  teacherOnly_->setObjectName(QStringLiteral("teacherControls"));
  auto* teacherRow = new QHBoxLayout(teacherOnly_);
  teacherRow->setContentsMargins(0, 0, 0, 0);
  teacherRow->setSpacing(8);
  teacherRow->addWidget(start_);
  teacherRow->addWidget(stop_);

  auto* row = new QHBoxLayout(this);
  row_ = row;
  row->setContentsMargins(16, 0, 8, 0);
  row->setSpacing(12);
  row->addWidget(title);
  row->addWidget(teacher);
  row->addWidget(classState_);
  row->addStretch(1);
  row->addWidget(toolSelector_);
  row->addWidget(teacherOnly_);
  row->addSpacing(12);
  row->addWidget(leave);

  connect(&session_, &RoomSession::classStateChanged, this, &ClassroomHeader::refresh);
  connect(&session_, &RoomSession::rolesChanged, this, &ClassroomHeader::refresh);
  // A student holding the teaching tool chooses what to share too.
  connect(&session_, &RoomSession::floorsChanged, this, &ClassroomHeader::refresh);
  refresh();
}

void ClassroomHeader::addControl(QWidget* control) {
  control->setParent(this);
  row_->insertWidget(row_->indexOf(toolSelector_), control);
}

void ClassroomHeader::setStartEnabled(bool enabled) {
  start_->setEnabled(enabled);
}

void ClassroomHeader::refresh() {
  const bool running = session_.classInProgress();
  classState_->setText(running ? QStringLiteral("上课中") : QStringLiteral("未上课"));
  classState_->setProperty("running", running);
  classState_->style()->unpolish(classState_);
  classState_->style()->polish(classState_);
  teacherOnly_->setVisible(session_.hasTeacherRights());
  const bool holdsTool = running && session_.room().toolHolderId == qint64(session_.ownUserId());
  toolSelector_->setVisible(session_.hasTeacherRights() || holdsTool);
  if (!toolSelector_->isVisibleTo(this))
    toolSelector_->hidePopup();
  start_->setVisible(!running);
  start_->setEnabled(!running);
  stop_->setVisible(running && session_.isClassStarter(session_.ownUserId()));
}

void ClassroomHeader::addToolEntry(const QString& text, std::function<void()> chosen) {
  toolEntries_.append(std::move(chosen));
  toolSelector_->addItem(text);
  toolSelector_->setCurrentIndex(-1);
}

bool ClassroomHeader::eventFilter(QObject* watched, QEvent* event) {
  if (watched == stop_ && event->type() == QEvent::MouseButtonDblClick)
    return true;  // neither a press nor, with its release, a click
  return QWidget::eventFilter(watched, event);
}
