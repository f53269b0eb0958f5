// The room's announcements: the list by creation time with the chosen one
// shown (title in bold, then its text), publishing a new one and deleting one
// (the room's teacher side), and the pages of members who booked the class.
#pragma once

#include <QDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QPixmap>

class ClassroomContext;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTextBrowser;
class QVBoxLayout;

class ClassAnnouncementDialog : public QDialog {
  Q_OBJECT

public:
  static constexpr int kMaxTitle = 20;
  static constexpr int kMaxContent = 200;

  explicit ClassAnnouncementDialog(ClassroomContext& context, QWidget* parent = nullptr);

  // What the parts show (tests).
  int bookingPage() const { return page_; }
  int bookingRows() const;

  // The announcement's view: its title in bold at 18 points, an empty line,
  // its text, every user text escaped.
  static QString viewHtml(const QString& title, const QString& text);

signals:
  void announcementsChanged();

public slots:
  void slot_init_resources();
  void slot_GetYueKeList(QJsonObject answer);
  void slot_GetYueKeHead_reply(QPixmap picture, void* row);
  void slot_PButtonLeft();
  void slot_PButtonRight();
  void slot_GetAnnouncement(QJsonArray answer);
  void slot_PButtonLook();
  void slot_PButtonRelease();
  void slot_LEditTitle();
  void slot_PTEditContent();
  void slot_btnOK();
  void slot_ReleaseAnnouncement(QJsonObject answer);
  void slot_LWidgetCreateTime(int row);
  void slot_PButtonDelete();
  void slot_DeleteAnnouncement(QJsonObject answer);

private:
  // Tells the room an announcement was published or deleted.
  void announceChange(const QString& title);
  void requestBookings();
  void requestAnnouncements();
  void refreshPageButtons();

  ClassroomContext& context_;
  QStackedWidget* pages_;
  QListWidget* list_;
  QTextBrowser* view_;
  QLineEdit* title_;
  QPlainTextEdit* content_;
  QPushButton* ok_;
  QPushButton* delete_;
  QPushButton* release_;
  QPushButton* left_;
  QPushButton* right_;
  QVBoxLayout* bookings_;
  QJsonArray announcements_;
  QString publishing_;  // the title being published
  int page_ = 1;
  int totalPages_ = 0;
};
