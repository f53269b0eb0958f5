// The video tile of one member in a video group: the picture, a title bar with
// role badge, name and media marks, and (for those allowed) a hover bar with
// the teacher's quick operations.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "PlayWndOperation.h"

class AudioActivityIndicator;
class QLabel;
class QPushButton;
class VideoRenderWidget;

class PlayWnd : public QWidget {
  Q_OBJECT

public:
  // Operations sent with signalPlayWndOpr.
  enum Operation {
    OprCloseMedia = PlayWndOperation::CloseMedia,
    OprAudio = PlayWndOperation::Audio,
    OprGift = PlayWndOperation::Gift
  };
  static constexpr int kButtonSide = 36;

  explicit PlayWnd(QWidget* parent = nullptr);

  // roleCode: 1 teacher, 2 student, 3 parent, 4 auditor, other.
  void setUser(quint32 id, const QString& name, int roleCode);
  quint32 userId() const { return m_userId; }
  QString userName() const { return m_userName; }
  int roleCode() const { return m_roleCode; }

  void setVideoOn(bool on);
  bool isVideoOn() const { return m_videoOn; }
  void setAudioOn(bool on);
  bool isAudioOn() const { return m_audioOn; }

  // The classroom allows the hover bar for a user with the teacher's rights
  // and on the tile showing the own video.
  void setHoverAllowed(bool allowed);
  bool isHoverAllowed() const { return m_hoverAllowed; }
  bool isHoverBarShown() const;
  QColor titleBarColor() const { return m_titleColor; }

  bool isPlaceholderShown() const;
  QString audioIconPath() const;
  QString videoIconPath() const;
  QString roleBadgeText() const;
  QColor roleBadgeColor() const { return m_badgeColor; }

  VideoRenderWidget* renderWidget() const { return m_render; }
  // Drops the picture (the member's video stopped or the tile is reused).
  void clear();

  QSize sizeHint() const override { return QSize(320, 180); }
  QSize minimumSizeHint() const override { return QSize(192, 108); }

signals:
  void signalPlayWndOpr(quint32 userId, int opr);

protected:
  void enterEvent(QEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  QPushButton* makeButton(const QString& name, const QString& tip, int opr);
  void setTitleBarColor(const QColor& color);
  void showHoverBar(bool show);
  void updatePlaceholder();
  void layoutChildren();

  quint32 m_userId = 0;
  QString m_userName;
  int m_roleCode = 0;
  bool m_videoOn = false;
  bool m_audioOn = false;
  bool m_hoverAllowed = false;
  QColor m_titleColor;
  QColor m_badgeColor;

  VideoRenderWidget* m_render;
  QLabel* m_placeholder;
  QWidget* m_titleBar;
  QLabel* m_roleBadge;
  QLabel* m_nameLabel;
  QLabel* m_audioIcon;
  AudioActivityIndicator* m_audioActivity;
  QLabel* m_videoIcon;
  QWidget* m_hoverBar;
  QPushButton* m_btnCloseMedia;
  QPushButton* m_btnAudio;
  QPushButton* m_btnGift;
};
