// One room of a lobby list: poster, name, synopsis, tag, seats and class time,
// with the button that enters the room (and, on own rooms, the settings button).
#pragma once

#include <QJsonObject>
#include <QPixmap>
#include <QWidget>

class QLabel;
class QPushButton;

class ClassInformationWidget : public QWidget {
  Q_OBJECT

public:
  static constexpr int kSynopsisLimit = 149;
  static constexpr int kWidth = 250;
  static constexpr int kHeight = 350;

  // room: one entry of a room list answer; ownRoom: from the created-rooms list.
  ClassInformationWidget(const QJsonObject& room, bool ownRoom, QWidget* parent = nullptr);

  const QJsonObject& room() const { return room_; }
  bool isOwnRoom() const { return ownRoom_; }
  quint32 roomId() const;
  quint32 ownerId() const;
  QString roomName() const;
  QString imagePath() const;
  // The poster path as the image GET wants it: always beginning with "/".
  QString posterPath() const;

  // Recording area saved for this room ("contentArea" / "contentAndVideoArea").
  QString recordingArea() const { return recordingArea_; }
  void setRecordingArea(const QString& value) { recordingArea_ = value; }

  void setPoster(const QPixmap& poster);
  void setEnterEnabled(bool enabled);
  bool enterEnabled() const;

  QString synopsisText() const;
  QString timeText() const;

  static QString cutSynopsis(const QString& synopsis);
  static QString classTime(const QString& start, const QString& end);

signals:
  void signal_EnterClassroom(ClassInformationWidget* card);
  void signal_PLPoster(ClassInformationWidget* card);
  void signal_Settings(ClassInformationWidget* card);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QJsonObject room_;
  bool ownRoom_;
  QString recordingArea_;
  QLabel* poster_;
  QLabel* synopsis_;
  QLabel* time_;
  QPushButton* enter_;
};
