// The classroom window: header with the class controls, the shared area in the
// centre with the students' tiles below it, and on the right the teacher's
// video, the other tiles and the side panel (chat, members, materials).
#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "Classroom.h"
#include "MemberListWidget.h"
#include "PlayWnd.h"
#include "VideoGroup.h"
#include "VideoRenderWidget.h"

namespace {

const char kClassroomStyle[] = R"(
#Classroom { background: #2b3039; }
#classroomHeader { background: #16191d; border-bottom: 1px solid #2c3138; }
#classroomHeader QLabel { color: #e8eaed; font-size: 14px; }
QLabel#classroomTitle { font-size: 16px; font-weight: bold; }
QLabel#classState { color: #9aa0a6; padding: 2px 10px; border-radius: 10px; background: #2c3138; }
QLabel#classState[running="true"] { color: #ffffff; background: #1e8e3e; }
#classroomHeader QPushButton, #ownControls QPushButton, #bulkButtons QPushButton {
  color: #e8eaed; background: #2f353d; border: 1px solid #3c434c; border-radius: 4px;
  padding: 5px 14px; font-size: 13px; }
#classroomHeader QPushButton:hover, #ownControls QPushButton:hover,
#bulkButtons QPushButton:hover { background: #3a414a; }
#classroomHeader QPushButton:disabled, #bulkButtons QPushButton:disabled { color: #6b7178; }
QPushButton#btnStartClass { background: #1a73e8; border-color: #1a73e8; }
QPushButton#btnStopClass { background: #c5221f; border-color: #c5221f; }
QPushButton#btnLeave { background: transparent; border: none; font-size: 18px; padding: 2px 8px; }
QPushButton#btnLeave:hover { background: #c5221f; }
#ownControls QPushButton:checked { background: #1a73e8; border-color: #1a73e8; }
QComboBox#toolSelector { color: #e8eaed; background: #2f353d; border: 1px solid #3c434c;
  border-radius: 4px; padding: 4px 10px; min-width: 110px; }
QLabel#sharedArea { background: #2a2f36; color: #9aa0a6; font-size: 18px; border-radius: 6px; }
#mainVideoBox { background: #000000; border-radius: 6px; }
QLabel#mainVideoName { color: #ffffff; background: rgba(0,0,0,120); padding: 2px 8px; }
#sidePanel { background: #ffffff; border-radius: 6px; }
#sideTabs QPushButton { border: none; border-bottom: 2px solid transparent; padding: 8px 0;
  font-size: 14px; color: #5f6368; background: transparent; }
#sideTabs QPushButton:checked { color: #1a73e8; border-bottom-color: #1a73e8; }
QLabel#chatMuted { color: #c5221f; padding: 4px; }
QLabel#emptyMaterials { color: #9aa0a6; }
#bulkButtons { background: #2a2f36; border-radius: 4px; }
)";

QPushButton* headerButton(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setCursor(Qt::PointingHandCursor);
  return b;
}

}  // namespace

void Classroom::buildWindow() {
  setStyleSheet(QString::fromUtf8(kClassroomStyle));
  resize(1366, 800);
  setMinimumSize(1100, 680);

  supplementTimer_ = new QTimer(this);
  connect(supplementTimer_, &QTimer::timeout, this, &Classroom::timerSupplement_timeout);

  auto* body = new QHBoxLayout;
  body->setContentsMargins(10, 10, 10, 10);
  body->setSpacing(10);
  body->addWidget(buildStage(), 1);
  body->addWidget(buildSidePanel());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(buildHeader());
  layout->addLayout(body, 1);
  refreshRoleControls();
  refreshClassButtons();
}

QWidget* Classroom::buildHeader() {
  auto* header = new QWidget(this);
  header->setObjectName(QStringLiteral("classroomHeader"));
  header->setAttribute(Qt::WA_StyledBackground);
  header->setFixedHeight(52);

  titleLabel_ = new QLabel(entry_.roomName, header);
  titleLabel_->setObjectName(QStringLiteral("classroomTitle"));
  titleLabel_->setTextFormat(Qt::PlainText);  // names come from the service as users typed them
  auto* teacher = new QLabel(QStringLiteral("老师：") + entry_.ownerName, header);
  teacher->setTextFormat(Qt::PlainText);
  classStateLabel_ = new QLabel(header);
  classStateLabel_->setObjectName(QStringLiteral("classState"));
  classStateLabel_->setFixedHeight(24);
  classStateLabel_->setAlignment(Qt::AlignCenter);

  toolSelector_ = new QComboBox(header);
  toolSelector_->setObjectName(QStringLiteral("toolSelector"));
  toolSelector_->setPlaceholderText(QStringLiteral("教具选择"));
  toolSelector_->setCurrentIndex(-1);

  startClassButton_ = headerButton(QStringLiteral("上课"), "btnStartClass", header);
  stopClassButton_ = headerButton(QStringLiteral("下课"), "btnStopClass", header);
  connect(startClassButton_, &QPushButton::clicked, this, &Classroom::btnStartClass_clicked);
  connect(stopClassButton_, &QPushButton::clicked, this, &Classroom::btnStopClass_clicked);
  auto* leave = headerButton(QStringLiteral("✕"), "btnLeave", header);
  leave->setToolTip(QStringLiteral("离开教室"));
  connect(leave, &QPushButton::clicked, this, &QWidget::close);

  teacherOnly_ = new QWidget(header);
  auto* teacherRow = new QHBoxLayout(teacherOnly_);
  teacherRow->setContentsMargins(0, 0, 0, 0);
  teacherRow->setSpacing(8);
  teacherRow->addWidget(toolSelector_);
  teacherRow->addWidget(startClassButton_);
  teacherRow->addWidget(stopClassButton_);

  auto* row = new QHBoxLayout(header);
  row->setContentsMargins(16, 0, 8, 0);
  row->setSpacing(12);
  row->addWidget(titleLabel_);
  row->addWidget(teacher);
  row->addWidget(classStateLabel_);
  row->addStretch(1);
  row->addWidget(teacherOnly_);
  row->addSpacing(12);
  row->addWidget(leave);
  return header;
}

QWidget* Classroom::buildStage() {
  auto* column = new QWidget(this);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(10);

  stage_ = new QStackedWidget(column);
  sharedArea_ = new QLabel(QStringLiteral("等待老师上课"), stage_);
  sharedArea_->setObjectName(QStringLiteral("sharedArea"));
  sharedArea_->setAlignment(Qt::AlignCenter);
  sharedArea_->setMinimumSize(480, 300);
  toolView_ = new VideoRenderWidget(stage_);
  stage_->addWidget(sharedArea_);
  stage_->addWidget(toolView_);
  layout->addWidget(stage_, 1);

  studentVideos_ = new VideoGroup(4, column);
  studentVideos_->setObjectName(QStringLiteral("studentVideos"));
  studentVideos_->setFixedHeight(150);
  layout->addWidget(studentVideos_);

  auto* own = new QWidget(column);
  ownControls_ = own;
  own->setObjectName(QStringLiteral("ownControls"));
  auto* ownRow = new QHBoxLayout(own);
  ownRow->setContentsMargins(0, 0, 0, 0);
  ownRow->setSpacing(8);
  ownVideoButton_ = new QPushButton(QStringLiteral("摄像头"), own);
  ownAudioButton_ = new QPushButton(QStringLiteral("麦克风"), own);
  for (QPushButton* b : {ownVideoButton_, ownAudioButton_}) {
    b->setCheckable(true);
    b->setCursor(Qt::PointingHandCursor);
    ownRow->addWidget(b);
  }
  // The state follows the media events, not the click.
  connect(ownVideoButton_, &QPushButton::clicked, this, [this] {
    ownVideoButton_->setChecked(!ownVideoButton_->isChecked());
    btnOprVideo_teacher_Clicked();
  });
  connect(ownAudioButton_, &QPushButton::clicked, this, [this] {
    ownAudioButton_->setChecked(!ownAudioButton_->isChecked());
    btnOprAudio_teacher_Clicked();
  });
  ownRow->addStretch(1);
  layout->addWidget(own);

  for (VideoGroup* group : {studentVideos_}) {
    connect(group, &VideoGroup::signalPlayWndOpr, this, &Classroom::playWnd_Opr);
    connect(group, &VideoGroup::signalScrolled, this,
            [this](QList<quint32> hidden, QList<quint32> shown) {
              for (quint32 id : hidden)
                ctrl(media_cmd_unsubscribe, id, media_kind_video);
              for (quint32 id : shown)
                ctrl(media_cmd_subscribe, id, media_kind_video);
            });
  }
  return column;
}

QWidget* Classroom::buildSidePanel() {
  auto* column = new QWidget(this);
  column->setFixedWidth(360);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(10);

  auto* mainBox = new QWidget(column);
  mainBox->setObjectName(QStringLiteral("mainVideoBox"));
  mainBox->setAttribute(Qt::WA_StyledBackground);
  mainBox->setFixedHeight(203);
  mainVideo_ = new VideoRenderWidget(mainBox);
  mainVideoName_ = new QLabel(QStringLiteral("老师视频"), mainBox);
  mainVideoName_->setObjectName(QStringLiteral("mainVideoName"));
  mainVideoName_->setTextFormat(Qt::PlainText);
  auto* mainLayout = new QVBoxLayout(mainBox);
  mainLayout->setContentsMargins(0, 0, 0, 0);
  mainLayout->setSpacing(0);
  mainLayout->addWidget(mainVideo_, 1);
  mainLayout->addWidget(mainVideoName_);
  layout->addWidget(mainBox);

  otherVideos_ = new VideoGroup(2, column);
  otherVideos_->setObjectName(QStringLiteral("otherVideos"));
  otherVideos_->setFixedHeight(110);
  connect(otherVideos_, &VideoGroup::signalPlayWndOpr, this, &Classroom::playWnd_Opr);
  connect(otherVideos_, &VideoGroup::signalScrolled, this,
          [this](QList<quint32> hidden, QList<quint32> shown) {
            for (quint32 id : hidden)
              ctrl(media_cmd_unsubscribe, id, media_kind_video);
            for (quint32 id : shown)
              ctrl(media_cmd_subscribe, id, media_kind_video);
          });
  otherVideos_->hide();  // shown while somebody of the other roles has a tile
  layout->addWidget(otherVideos_);

  auto* panel = new QWidget(column);
  panel->setObjectName(QStringLiteral("sidePanel"));
  panel->setAttribute(Qt::WA_StyledBackground);
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->setSpacing(0);

  auto* tabs = new QWidget(panel);
  tabs->setObjectName(QStringLiteral("sideTabs"));
  auto* tabRow = new QHBoxLayout(tabs);
  tabRow->setContentsMargins(8, 0, 8, 0);
  auto* tabGroup = new QButtonGroup(panel);
  chatTab_ = new QPushButton(QStringLiteral("聊天"), tabs);
  membersTab_ = new QPushButton(QStringLiteral("成员"), tabs);
  materialsTab_ = new QPushButton(QStringLiteral("资料"), tabs);
  int index = 0;
  for (QPushButton* b : {chatTab_, membersTab_, materialsTab_}) {
    b->setCheckable(true);
    b->setCursor(Qt::PointingHandCursor);
    tabGroup->addButton(b, index++);
    tabRow->addWidget(b);
  }
  panelLayout->addWidget(tabs);

  sidePages_ = new QStackedWidget(panel);
  // Chat.
  chatPanel_ = new QWidget(sidePages_);
  auto* chatLayout = new QVBoxLayout(chatPanel_);
  chatLayout->setContentsMargins(8, 8, 8, 8);
  chatNotice_ = new QLabel(chatPanel_);
  chatNotice_->hide();
  auto* chatList = new QListWidget(chatPanel_);
  chatList->setObjectName(QStringLiteral("chatList"));
  chatList->setFrameShape(QFrame::NoFrame);
  chatMutedLabel_ = new QLabel(chatPanel_);
  chatMutedLabel_->setObjectName(QStringLiteral("chatMuted"));
  chatMutedLabel_->hide();
  chatEdit_ = new QLineEdit(chatPanel_);
  chatEdit_->setObjectName(QStringLiteral("chatEdit"));
  chatEdit_->setMaxLength(40);
  chatEdit_->setPlaceholderText(QStringLiteral("说点什么…"));
  sendButton_ = new QPushButton(QStringLiteral("发送"), chatPanel_);
  sendButton_->setObjectName(QStringLiteral("btnSendText"));
  auto* inputRow = new QHBoxLayout;
  inputRow->addWidget(chatEdit_, 1);
  inputRow->addWidget(sendButton_);
  chatLayout->addWidget(chatNotice_);
  chatLayout->addWidget(chatList, 1);
  chatLayout->addWidget(chatMutedLabel_);
  chatLayout->addLayout(inputRow);
  sidePages_->addWidget(chatPanel_);

  // Members.
  auto* membersPage = new QWidget(sidePages_);
  auto* membersLayout = new QVBoxLayout(membersPage);
  membersLayout->setContentsMargins(0, 0, 0, 0);
  memberList_ = new MemberListWidget(membersPage);
  auto* scroll = new QScrollArea(membersPage);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidget(memberList_);
  membersLayout->addWidget(scroll, 1);
  bulkButtons_ = new QWidget(membersPage);
  bulkButtons_->setObjectName(QStringLiteral("bulkButtons"));
  bulkButtons_->setAttribute(Qt::WA_StyledBackground);
  auto* bulkRow = new QHBoxLayout(bulkButtons_);
  bulkRow->setContentsMargins(6, 6, 6, 6);
  bulkRow->setSpacing(6);
  openAllAudio_ = new QPushButton(QStringLiteral("开声音"), bulkButtons_);
  closeAllAudio_ = new QPushButton(QStringLiteral("关声音"), bulkButtons_);
  openAllVideo_ = new QPushButton(QStringLiteral("开视频"), bulkButtons_);
  closeAllVideo_ = new QPushButton(QStringLiteral("关视频"), bulkButtons_);
  for (QPushButton* b : {openAllAudio_, closeAllAudio_, openAllVideo_, closeAllVideo_}) {
    b->setCursor(Qt::PointingHandCursor);
    bulkRow->addWidget(b);
  }
  connect(openAllAudio_, &QPushButton::clicked, this, &Classroom::btnOpenAllAudio_clicked);
  connect(closeAllAudio_, &QPushButton::clicked, this, &Classroom::btnCloseAllAudio_clicked);
  connect(openAllVideo_, &QPushButton::clicked, this, &Classroom::btnOpenAllVideo_clicked);
  connect(closeAllVideo_, &QPushButton::clicked, this, &Classroom::btnCloseAllVideo_clicked);
  membersLayout->addWidget(bulkButtons_);
  sidePages_->addWidget(membersPage);
  connect(memberList_, &MemberListWidget::signalContextMenu, this, &Classroom::showMemberMenu);
  connect(memberList_, &MemberListWidget::signalVideoClicked, this, &Classroom::onOperateVideo);
  connect(memberList_, &MemberListWidget::signalAudioClicked, this, &Classroom::onOperateAudio);

  // Materials.
  auto* materials = new QLabel(QStringLiteral("暂无资料"), sidePages_);
  materials->setObjectName(QStringLiteral("emptyMaterials"));
  materials->setAlignment(Qt::AlignCenter);
  sidePages_->addWidget(materials);

  panelLayout->addWidget(sidePages_, 1);
  connect(tabGroup, &QButtonGroup::idClicked, sidePages_, &QStackedWidget::setCurrentIndex);
  membersTab_->setChecked(true);
  sidePages_->setCurrentIndex(1);
  layout->addWidget(panel, 1);
  return column;
}

void Classroom::refreshRoleControls() {
  const bool teacher = context_.hasTeacherRights();
  teacherOnly_->setVisible(teacher);
  bulkButtons_->setVisible(teacher);
  ownControls_->setVisible(teacher);
  memberList_->setSelectable(teacher);
  for (VideoGroup* group : {studentVideos_, otherVideos_})
    group->setHoverAllowed(teacher);
  // The own tile always offers its own controls.
  for (VideoGroup* group : {studentVideos_, otherVideos_})
    if (PlayWnd* own = group->tile(entry_.ownUserId))
      own->setHoverAllowed(true);
}

void Classroom::refreshClassButtons() {
  const bool running = context_.classInProgress;
  classStateLabel_->setText(running ? QStringLiteral("上课中") : QStringLiteral("未上课"));
  classStateLabel_->setProperty("running", running);
  classStateLabel_->style()->unpolish(classStateLabel_);
  classStateLabel_->style()->polish(classStateLabel_);
  startClassButton_->setVisible(!running);
  startClassButton_->setEnabled(!running);
  stopClassButton_->setVisible(running &&
                               context_.classStarterId == static_cast<qint64>(entry_.ownUserId));
}
