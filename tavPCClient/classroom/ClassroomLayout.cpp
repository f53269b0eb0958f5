// The classroom window: the header, the stage with the students' strip and
// the teacher's own buttons below it, and on the right the main video, the
// other members' strip and the side panel (chat, members, materials).
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "AnnotationControl.h"
#include "AnnouncementBar.h"
#include "AppShare.h"
#include "ChatPanel.h"
#include "ClassControl.h"
#include "ClassEvaluation.h"
#include "ClassStage.h"
#include "Classroom.h"
#include "ClassroomContext.h"
#include "ClassroomHeader.h"
#include "CoursewarePlayback.h"
#include "FollowButton.h"
#include "GiftBar.h"
#include "GiftEffectArea.h"
#include "HandControl.h"
#include "MainVideoBox.h"
#include "MaterialsPanel.h"
#include "MedalRankingList.h"
#include "MediaControl.h"
#include "MediaEventBridge.h"
#include "MemberPanel.h"
#include "MemberRoster.h"
#include "ModerationControl.h"
#include "OwnMediaBar.h"
#include "PhoneAssistant.h"
#include "RecordingControl.h"
#include "RoomSession.h"
#include "SharedArea.h"
#include "SharedAreaView.h"
#include "SidePanel.h"
#include "TeachingTool.h"
#include "VideoGroup.h"
#include "VideoLineup.h"
#include "VideoPresenter.h"
#include "Whiteboard.h"

namespace {

const char kClassroomStyle[] = R"(
#Classroom { background: #2b3039; }
#classroomHeader { background: #16191d; border-bottom: 1px solid #2c3138; }
#classroomHeader QLabel { color: #e8eaed; font-size: 14px; }
QLabel#classroomTitle { font-size: 16px; font-weight: bold; }
QLabel#classState { color: #9aa0a6; padding: 2px 10px; border-radius: 10px; background: #2c3138; }
QLabel#classState[running="true"] { color: #ffffff; background: #1e8e3e; }
#classroomHeader QPushButton, #ownControls QPushButton, #bulkButtons QPushButton,
QPushButton#btnHandUp, QPushButton#btnAttention {
  color: #e8eaed; background: #2f353d; border: 1px solid #3c434c; border-radius: 4px;
  padding: 5px 14px; font-size: 13px; }
#bulkButtons QPushButton { padding: 5px 4px; }
#classroomHeader QPushButton:hover, #ownControls QPushButton:hover,
#bulkButtons QPushButton:hover, QPushButton#btnHandUp:hover { background: #3a414a; }
#classroomHeader QPushButton:disabled, #bulkButtons QPushButton:disabled,
#ownControls QPushButton:disabled { color: #6b7178; }
QPushButton#btnStartClass { background: #1a73e8; border-color: #1a73e8; }
#classroomHeader MarqueeLabel#announcementLabel { color: #fbbc04; }
#classroomHeader MarqueeLabel#bulletinLabel { color: #9aa0a6; font-size: 13px; }
QPushButton#btnStopClass { background: #c5221f; border-color: #c5221f; }
QPushButton#btnLeave { background: transparent; border: none; font-size: 18px; padding: 2px 8px; }
QPushButton#btnLeave:hover { background: #c5221f; }
#ownControls QPushButton:checked { background: #1a73e8; border-color: #1a73e8; }
#recordBar QPushButton { color: #e8eaed; background: #2f353d; border: 1px solid #3c434c;
  border-radius: 4px; padding: 5px 14px; font-size: 13px; }
#recordBar QPushButton:checked { background: #c5221f; border-color: #c5221f; }
QLabel#labelRecordTime { color: #e8eaed; font-size: 13px; padding: 0 6px; }
QComboBox#toolSelector { color: #e8eaed; background: #2f353d; border: 1px solid #3c434c;
  border-radius: 4px; padding: 4px 10px; min-width: 110px; }
QComboBox#toolSelector QAbstractItemView { color: #202124; background: #ffffff;
  selection-color: #1a73e8; selection-background-color: #e8f0fe; outline: none; }
QComboBox#toolSelector QAbstractItemView::item { color: #202124; padding: 6px 10px; }
QComboBox#toolSelector QAbstractItemView::item:selected,
QComboBox#toolSelector QAbstractItemView::item:hover { color: #1a73e8; background: #e8f0fe; }
QLabel#stageWaiting { background: #2a2f36; color: #9aa0a6; font-size: 18px; border-radius: 6px; }
#shareControls QPushButton { color: #e8eaed; background: #2f353d; border: 1px solid #3c434c;
  border-radius: 4px; padding: 5px 10px; font-size: 13px; }
#shareControls QPushButton:hover { background: #3a414a; }
#shareControls QLabel { color: #e8eaed; }
#documentList QLabel#documentsTitle { font-weight: bold; color: #202124; }
QLabel#documentsEmpty { color: #9aa0a6; padding: 20px; }
#DocumentItem { background: #ffffff; border-bottom: 1px solid #eef0f3; }
#DocumentItem:hover { background: #f3f7fc; }
#coursewareList QLabel#coursewareTitle { font-weight: bold; color: #202124; }
QLabel#coursewareEmpty { color: #9aa0a6; padding: 20px; }
#CoursewareItem { background: #ffffff; border-bottom: 1px solid #eef0f3; }
#materialsPanel, #documentRows { background: #ffffff; }
#materialsPanel QPushButton { color: #1a73e8; background: #ffffff; border: 1px solid #dadce0;
  border-radius: 4px; padding: 3px 8px; }
#materialsPanel QPushButton:hover { background: #f1f3f4; }
#materialsPanel QPushButton:disabled { color: #9aa0a6; }
QFrame#materialsDivider { color: #eef0f3; }
QLabel#coursewarePrice { color: #e8710a; }
#mainVideoBox { background: #000000; border-radius: 6px; }
QLabel#mainVideoName { color: #ffffff; background: rgba(0,0,0,120); padding: 2px 8px; }
#sidePanel { background: #ffffff; border-radius: 6px; }
#sideTabs QPushButton { border: none; border-bottom: 2px solid transparent; padding: 8px 0;
  font-size: 14px; color: #5f6368; background: transparent; }
#sideTabs QPushButton:checked { color: #1a73e8; border-bottom-color: #1a73e8; }
QLabel#chatMuted { color: #c5221f; padding: 4px; }
#bulkButtons { background: #2a2f36; border-radius: 4px; }
#sidePanel QScrollBar:vertical { background: #f1f3f4; width: 8px; margin: 0; border: none; }
#sidePanel QScrollBar::handle:vertical { background: #bdc1c6; border-radius: 4px; min-height: 30px; }
#sidePanel QScrollBar::handle:vertical:hover { background: #9aa0a6; }
#sidePanel QScrollBar::add-line:vertical, #sidePanel QScrollBar::sub-line:vertical { height: 0; }
#sidePanel QScrollBar::add-page:vertical, #sidePanel QScrollBar::sub-page:vertical {
  background: none; }
)";

constexpr int kSideWidth = 360;
constexpr int kStudentStripHeight = 150;
constexpr int kOtherStripHeight = 110;

}  // namespace

void Classroom::buildWindow() {
  setStyleSheet(QString::fromUtf8(kClassroomStyle));
  resize(1366, 820);
  setMinimumSize(1100, 700);
  // Every part lives in the body, which goes before the objects the parts
  // share (the window's own children: session, messenger, dispatch, context).
  body_ = std::make_unique<QWidget>(this);
  body_->setObjectName(QStringLiteral("classroomBody"));
  QWidget* body = body_.get();

  header_ = new ClassroomHeader(entry_.roomName, entry_.ownerName, *session_, body);
  connect(header_, &ClassroomHeader::leaveClicked, this, &QWidget::close);
  connect(context_, &ClassroomContext::leaveRequested, this, &Classroom::leaveBecause);
  // The room's announcement and the platform's bulletins.
  header_->addControl(new AnnouncementBar(*context_, header_));
  // Members follow the room; its owner has no need to.
  if (entry_.ownUserId != entry_.ownerId)
    header_->addControl(new FollowButton(*context_, header_));
  sharedArea_ = new SharedArea(*context_, body);
  components_.append(sharedArea_);
  stage_ = new ClassStage(*session_, sharedArea_, body);
  // The share-content menu: a picture, the phone, a board template, a program's window.
  auto* phone = new PhoneAssistant(*context_, body);
  components_.append(phone);
  teachingTool_ = new TeachingTool(*context_, body);
  components_.append(teachingTool_);
  auto* appShare = new AppShare(*context_, body);
  components_.append(appShare);
  connect(teachingTool_, &TeachingTool::ownToolEnded, appShare, &AppShare::ownToolEnded);
  header_->addToolEntry(QStringLiteral("共享图片"), [this] { sharedArea_->choosePicture(); });
  header_->addToolEntry(QStringLiteral("手机助手"), [phone] { phone->pair(); });
  header_->addToolEntry(QStringLiteral("白板背景"), [this] { sharedArea_->chooseTemplate(); });
  header_->addToolEntry(QStringLiteral("共享应用"), [appShare] { appShare->chooseApplication(); });

  auto* students = new VideoGroup(session_->studentLineup(), body);
  students->setObjectName(QStringLiteral("studentVideos"));
  students->setFixedHeight(kStudentStripHeight);
  auto* others = new VideoGroup(session_->otherLineup(), body);
  others->setObjectName(QStringLiteral("otherVideos"));
  others->setFixedHeight(kOtherStripHeight);
  // Shown while somebody of the other roles has a tile.
  others->setVisible(false);
  auto showOthers = [others, this] {
    others->setVisible(!session_->otherLineup().displayed().isEmpty());
  };
  connect(&session_->otherLineup(), &VideoLineup::shown, others, showOthers);
  connect(&session_->otherLineup(), &VideoLineup::hidden, others, showOthers);
  auto* mainVideo = new MainVideoBox(body);
  mainVideo->setFixedSize(kSideWidth, kSideWidth * 3 / 4);

  mediaControl_ = new MediaControl(*context_, body);
  roster_ = new MemberRoster(*context_, body);
  videoPresenter_ = new VideoPresenter(
      *context_, bridge_->frames(),
      VideoPresenter::Views{mainVideo, students, others, stage_->toolView(), stage_->mainView()},
      body);
  // A double click on the main video enlarges it to the stage, and there back.
  connect(mainVideo, &MainVideoBox::enlargeRequested, videoPresenter_,
          &VideoPresenter::toggleMainVideo);
  connect(stage_, &ClassStage::shrinkRequested, videoPresenter_, &VideoPresenter::toggleMainVideo);
  connect(videoPresenter_, &VideoPresenter::mainVideoEnlarged, stage_,
          &ClassStage::setMainVideoEnlarged);
  classControl_ = new ClassControl(*context_, *header_, components_, body);
  for (VideoGroup* group : {students, others})
    connect(group, &VideoGroup::signalPlayWndOpr, mediaControl_, &MediaControl::playWnd_Opr);

  auto* side = new SidePanel(body);
  auto* chat = new ChatPanel(*context_, side);
  const int chatTab = side->addTab(QStringLiteral("聊天"), chat, QStringLiteral("tabChat"));
  // A chat picture shared with the class goes to the shared area.
  connect(chat, &ChatPanel::sharePictureRequested, sharedArea_, &SharedArea::onShareChatPic);
  connect(chat, &ChatPanel::newMessageWhileHidden, side,
          [side, chatTab] { side->markNewMessage(chatTab); });
  const int membersTab =
      side->addTab(QStringLiteral("成员"), new MemberPanel(*context_, *mediaControl_, side),
                   QStringLiteral("tabMembers"));
  auto* moderation = new ModerationControl(*context_, body);
  // Students and parents rate the teacher when the class they sat in ends.
  components_.append(new ClassEvaluation(*context_, body));
  auto* ranking = new MedalRankingList(*context_, side);
  side->addTab(QStringLiteral("勋章"), ranking, QStringLiteral("tabMedals"));
  connect(moderation, &ModerationControl::medalCountersOutdated, ranking,
          &MedalRankingList::reload);
  side->addTab(QStringLiteral("资料"), new MaterialsPanel(*context_, *sharedArea_, side),
               QStringLiteral("tabMaterials"));
  // The courseware list's videos play in a window of their own.
  components_.append(new CoursewarePlayback(*context_, body));
  side->setCurrentTab(membersTab);

  context_->provide<SharedAreaView>(stage_);
  context_->provide<AppShareView>(stage_);
  whiteboard_ = new Whiteboard(*context_, *stage_, body);
  components_.append(whiteboard_.data());
  bridge_->setMarkLayerSource(whiteboard_.data());

  auto* left = new QVBoxLayout;
  left->setSpacing(10);
  left->addWidget(stage_, 1);
  left->addWidget(students);
  auto* own = new QHBoxLayout;
  own->setContentsMargins(0, 0, 0, 0);
  own->addWidget(new OwnMediaBar(*context_, *mediaControl_, body));
  auto* hands = new HandControl(*context_, body);
  own->addWidget(hands->button());
  own->addWidget(teachingTool_->applyButton());
  own->addWidget(teachingTool_->requestListButton());
  connect(hands, &HandControl::signal_hand_up, side,
          [side, membersTab, own = entry_.ownUserId](quint32 userId) {
            if (userId != own)
              side->markNewMessage(membersTab);
          });
  // The teacher side records the class beside its own buttons.
  auto* recording = new RecordingControl(*context_, body);
  components_.append(recording);
  own->addWidget(recording->bar());
  own->addStretch(1);
  own->addWidget(sharedArea_->controlBar());
  own->addWidget(whiteboard_->annotation()->buttonBar());
  left->addLayout(own);
  auto* giftRow = new QHBoxLayout;
  giftRow->setContentsMargins(0, 0, 0, 0);
  giftRow->addWidget(new GiftBar(*context_, *new GiftEffectArea(stage_), body));
  giftRow->addStretch(1);
  left->addLayout(giftRow);
  auto* right = new QVBoxLayout;
  right->setSpacing(10);
  right->addWidget(mainVideo);
  right->addWidget(others);
  right->addWidget(side, 1);
  auto* rightColumn = new QWidget(body);
  rightColumn->setFixedWidth(kSideWidth);
  rightColumn->setLayout(right);
  right->setContentsMargins(0, 0, 0, 0);

  auto* columns = new QHBoxLayout;
  columns->setContentsMargins(10, 10, 10, 10);
  columns->setSpacing(10);
  columns->addLayout(left, 1);
  columns->addWidget(rightColumn);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(header_);
  layout->addLayout(columns, 1);
  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 0);
  window->addWidget(body);
}
