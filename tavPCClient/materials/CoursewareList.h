// The room's courseware in the materials tab, ten a page: watching (free or
// bought plays; priced asks to buy first), and for the room's teacher side
// editing and deleting. A release announced in the room reloads the list. It
// offers the recording the dialog that publishes a recording here.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QWidget>
#include <functional>

#include "CoursewarePublishing.h"

class ClassroomContext;
class CoursewareItem;
class QLabel;
class QPushButton;
class QVBoxLayout;

class CoursewareList : public QWidget, public CoursewarePublishing {
  Q_OBJECT

public:
  static constexpr int kRowsPerPage = 10;

  explicit CoursewareList(ClassroomContext& context, QWidget* parent = nullptr);
  ~CoursewareList() override;

  // CoursewarePublishing
  QDialog* publishingDialog(centra* recorder, QWidget* parent) override;
  void reloadCourseware() override { reload(); }

  QList<CoursewareItem*> items() const;
  int page() const { return page_; }
  QString pageText() const;
  QString emptyText() const;

  // For tests: the question's answer, and the dialogs (accepted or not).
  void setDialogRunner(std::function<int(QDialog&)> run) { runDialog_ = std::move(run); }

public slots:
  void reload();
  void btnPrevPage_clicked();
  void btnNextPage_clicked();
  void onGetCoursewares(QJsonObject answer);
  void onWatchCourseware(CoursewareItem* item);
  void onFindById(QJsonObject answer);
  void onEditCourseware(CoursewareItem* item);
  void onDeleteCourseware(CoursewareItem* item);

private:
  void request();
  void play(const QJsonObject& record);
  void onRoomMessage(const QJsonObject& msg);

  ClassroomContext& context_;
  QVBoxLayout* rows_;
  QLabel* empty_;
  QLabel* pageLabel_;
  int page_ = 1;
  int shownPage_ = 0;
  int totalPages_ = 0;
  quint64 requestSerial_ = 0;
  std::function<int(QDialog&)> runDialog_;
};
