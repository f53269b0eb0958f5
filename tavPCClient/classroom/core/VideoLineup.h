// Who of one group of members is shown in a video tile and who waits. At most
// maxDisplayed users are shown; the rest wait in order, and scrolling rotates
// who is shown. Views follow the shown()/hidden() signals; subscribing and
// unsubscribing streams stays with the caller, which learns the ids from the
// results and from scrolled().
#pragma once

#include <QList>
#include <QObject>

class VideoLineup : public QObject {
  Q_OBJECT

public:
  enum Placement { Displayed, Waiting, Rejected };
  struct AddResult {
    Placement placement = Rejected;
    quint32 bumpedId = 0;  // a user moved to the waiting list to make room (pinFirst)
  };

  explicit VideoLineup(int maxDisplayed, QObject* parent = nullptr);

  int maxDisplayed() const { return maxDisplayed_; }

  // Shows the user when a place is free, else queues it at the end of the
  // waiting list. With pinFirst (the own video) the user always takes the
  // first place; when that overfills the lineup, the last shown user moves to
  // the front of the waiting list and is reported in bumpedId. Id 0 and users
  // already in the lineup are rejected.
  AddResult add(quint32 id, bool pinFirst = false);
  // Takes the user out. When that frees a place, the first waiting user takes
  // it; returns that user's id (0 when nobody was promoted).
  quint32 remove(quint32 id);
  // Moves the last shown user to the front of the waiting list; its id, or 0
  // when nobody is shown.
  quint32 moveLastDisplayedToWaitingFront();
  // Everybody out (no signals for the waiting).
  void clear();

  bool contains(quint32 id) const;
  QList<quint32> displayed() const { return displayed_; }
  QList<quint32> waiting() const { return waiting_; }
  bool hasWaiting() const { return !waiting_.isEmpty(); }
  bool isEmpty() const { return displayed_.isEmpty() && waiting_.isEmpty(); }

public slots:
  // Rotate by one user: the first shown goes to the end of the waiting list
  // and the first waiting is shown (next), or the reverse (previous). Nothing
  // happens while nobody waits.
  void scrollNext();
  void scrollPrevious();

signals:
  void shown(quint32 id, int position);
  void hidden(quint32 id);
  void waitingChanged(bool anyWaiting);
  // A scroll hid and showed these users.
  void scrolled(QList<quint32> hidden, QList<quint32> shown);

private:
  void show(quint32 id, int position);
  void hide(int position);
  void notifyWaiting(bool before);

  int maxDisplayed_;
  QList<quint32> displayed_;
  QList<quint32> waiting_;
};
