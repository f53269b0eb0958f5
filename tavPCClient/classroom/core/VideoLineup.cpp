#include "VideoLineup.h"

VideoLineup::VideoLineup(int maxDisplayed, QObject* parent)
    : QObject(parent), maxDisplayed_(qMax(1, maxDisplayed)) {
  // The scroll signal carries id lists, also across queued connections.
  qRegisterMetaType<QList<quint32>>("QList<quint32>");
}

VideoLineup::AddResult VideoLineup::add(quint32 id, bool pinFirst) {
  AddResult result;
  if (id == 0 || contains(id))
    return result;
  const bool waitedBefore = hasWaiting();
  if (pinFirst) {
    show(id, 0);
    if (displayed_.size() > maxDisplayed_)
      result.bumpedId = moveLastDisplayedToWaitingFront();
    result.placement = Displayed;
  } else if (displayed_.size() < maxDisplayed_) {
    show(id, displayed_.size());
    result.placement = Displayed;
  } else {
    waiting_.append(id);
    result.placement = Waiting;
  }
  notifyWaiting(waitedBefore);
  return result;
}

quint32 VideoLineup::remove(quint32 id) {
  const bool waitedBefore = hasWaiting();
  if (waiting_.removeOne(id)) {
    notifyWaiting(waitedBefore);
    return 0;
  }
  const int position = displayed_.indexOf(id);
  if (position < 0)
    return 0;
  hide(position);
  quint32 promoted = 0;
  if (!waiting_.isEmpty() && displayed_.size() < maxDisplayed_) {
    promoted = waiting_.takeFirst();
    show(promoted, displayed_.size());
  }
  notifyWaiting(waitedBefore);
  return promoted;
}

quint32 VideoLineup::moveLastDisplayedToWaitingFront() {
  if (displayed_.isEmpty())
    return 0;
  const bool waitedBefore = hasWaiting();
  const quint32 id = displayed_.last();
  hide(displayed_.size() - 1);
  waiting_.prepend(id);
  notifyWaiting(waitedBefore);
  return id;
}

void VideoLineup::clear() {
  const bool waitedBefore = hasWaiting();
  waiting_.clear();
  while (!displayed_.isEmpty())
    hide(displayed_.size() - 1);
  notifyWaiting(waitedBefore);
}

bool VideoLineup::contains(quint32 id) const {
  return displayed_.contains(id) || waiting_.contains(id);
}

void VideoLineup::scrollNext() {
  if (waiting_.isEmpty() || displayed_.isEmpty())
    return;
  const quint32 leaving = displayed_.first();
  hide(0);
  waiting_.append(leaving);
  const quint32 coming = waiting_.takeFirst();
  show(coming, displayed_.size());
  emit scrolled({leaving}, {coming});
}

void VideoLineup::scrollPrevious() {
  if (waiting_.isEmpty() || displayed_.isEmpty())
    return;
  const quint32 leaving = displayed_.last();
  hide(displayed_.size() - 1);
  waiting_.prepend(leaving);
  const quint32 coming = waiting_.takeLast();
  show(coming, 0);
  emit scrolled({leaving}, {coming});
}

void VideoLineup::show(quint32 id, int position) {
  displayed_.insert(position, id);
  emit shown(id, position);
}

void VideoLineup::hide(int position) {
  const quint32 id = displayed_.takeAt(position);
  emit hidden(id);
}

void VideoLineup::notifyWaiting(bool before) {
  if (before != hasWaiting())
    emit waitingChanged(hasWaiting());
}
