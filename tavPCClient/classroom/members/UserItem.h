// One member's row in the member list: selection box for the bulk buttons,
// name and marks, and the camera and microphone icons.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QToolButton;

class UserItem : public QWidget {
  Q_OBJECT

public:
  // roleCode: 1 teacher, 2 student, 3 parent, 4 auditor, other.
  UserItem(quint32 userId, const QString& name, int roleCode, QWidget* parent = nullptr);

  quint32 userId() const { return m_userId; }
  QString userName() const { return m_userName; }
  void setUserName(const QString& name);
  int roleCode() const { return m_roleCode; }
  void setRoleCode(int roleCode) { m_roleCode = roleCode; }

  bool isVideoOn() const { return m_videoOn; }
  void setVideoOn(bool on);
  bool isAudioOn() const { return m_audioOn; }
  void setAudioOn(bool on);
  bool hasCamera() const { return m_hasCamera; }
  void setHasCamera(bool present);
  bool hasMicrophone() const { return m_hasMicrophone; }
  void setHasMicrophone(bool present);
  // Device mask of the media library: bit 1 camera, bit 2 microphone.
  void setDeviceMask(quint32 mask);

  bool isChecked() const;
  void setChecked(bool checked);
  // The tick box serves the bulk buttons; members without them do not see it.
  void setCheckVisible(bool visible);
  bool isCheckVisible() const;
  bool isHandUp() const { return m_handUp; }
  void setHandUp(bool up);
  bool isMuted() const { return m_muted; }
  void setMuted(bool muted);
  bool isAssistant() const { return m_assistant; }
  void setAssistant(bool assistant);
  // The medal last awarded, as a badge beside the name.
  QString medal() const { return m_medal; }
  void setMedal(const QString& medal);
  QString level() const { return m_level; }
  void setLevel(const QString& level);

  // Resource paths of the icons shown now.
  QString videoIconPath() const;
  QString audioIconPath() const;

signals:
  void signalContextMenu(quint32 userId, QPoint globalPos);
  void signalVideoClicked(quint32 userId);
  void signalAudioClicked(quint32 userId);
  // The raised-hand mark was clicked.
  void signalHandClicked(quint32 userId);

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  void refreshIcons();

  quint32 m_userId;
  QString m_userName;
  int m_roleCode;
  bool m_videoOn = false;
  bool m_audioOn = false;
  bool m_hasCamera = true;
  bool m_hasMicrophone = true;
  bool m_handUp = false;
  bool m_muted = false;
  bool m_assistant = false;
  QString m_level;
  QString m_medal;

  QCheckBox* m_check;
  QLabel* m_levelLabel;
  QLabel* m_nameLabel;
  QLabel* m_assistantMark;
  QLabel* m_handMark;
  QLabel* m_mutedMark;
  QLabel* m_medalMark;
  QToolButton* m_btnVideo;
  QToolButton* m_btnAudio;
};
