// A feature of the classroom (chat, gifts, the whiteboard, sharing, recording,
// ...): it owns its widgets and its behaviour, reads the room messages it
// registered for through the context, and hears from the Classroom at the
// moments that concern every feature.
#pragma once

#include <QString>

class ClassroomComponent {
public:
  virtual ~ClassroomComponent() = default;

  // Why the own class may not start now (a toast), or empty when it may.
  virtual QString startRefusal() const { return QString(); }
  // The own class is being stopped: end what belongs to a running class
  // (sharing windows, the phone link, a recording).
  virtual void classStopping() {}
  // The member leaves the classroom and the media library is still there:
  // end what is the member's own (its share, annotation, recording, link).
  virtual void leaving() {}
};
