// A strip of video tiles for one group of members. At most maxDisplayed users
// have a tile; the rest wait, and the scroll buttons rotate who is shown. The
// operations only rearrange tiles and report ids: subscribing and
// unsubscribing streams stays with the caller.
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class PlayWnd;
class QHBoxLayout;
class QPushButton;

class VideoGroup : public QWidget {
  Q_OBJECT

public:
  struct AddResult {
    enum Placement { Displayed, Waiting, Rejected };
    Placement placement = Rejected;
    PlayWnd* tile = nullptr;  // the new tile when Displayed
    quint32 bumpedId = 0;     // a user moved to the waiting list to make room (pinFirst)
  };

  explicit VideoGroup(int maxDisplayed, QWidget* parent = nullptr);
  ~VideoGroup() override;

  int maxDisplayed() const { return m_maxDisplayed; }

  // Shows the user when a tile is free, else queues it at the end of the
  // waiting list. With pinFirst (the own video) the user always gets the
  // first tile; when that overfills the strip, the last displayed user moves
  // to the front of the waiting list and is reported in bumpedId. Id 0 and
  // users already in the group are rejected.
  AddResult add(quint32 id, const QString& name, int role, bool pinFirst = false);
  // Takes the user out of the group. When that frees a tile, the first waiting
  // user gets it; returns that user's id (0 when nobody was promoted).
  quint32 remove(quint32 id);
  // Moves the last displayed user to the front of the waiting list; returns
  // its id, 0 when nothing is displayed.
  quint32 moveLastDisplayedToWaitingFront();
  void clear();

  PlayWnd* tile(quint32 id) const;
  bool contains(quint32 id) const;
  QList<quint32> displayed() const;
  QList<quint32> waiting() const;
  bool scrollButtonsShown() const;

  // Applies to the current and future tiles.
  void setHoverAllowed(bool allowed);

public slots:
  // Rotate by one user: the first shown goes to the end of the waiting list
  // and the first waiting is shown (next), or the reverse (previous).
  void scrollNext();
  void scrollPrevious();

signals:
  void signalScrolled(QList<quint32> hidden, QList<quint32> shown);
  void signalPlayWndOpr(quint32 userId, int opr);

private:
  struct Member {
    quint32 id = 0;
    QString name;
    int role = 0;
    bool audioOn = false;
    PlayWnd* tile = nullptr;
  };

  void showMember(Member& member, int position);
  void hideMember(Member& member);
  void refreshScrollButtons();

  int m_maxDisplayed;
  bool m_hoverAllowed = false;
  QList<Member> m_displayed;
  QList<Member> m_waiting;
  QHBoxLayout* m_tileLayout;
  QPushButton* m_btnPrevious;
  QPushButton* m_btnNext;
};
