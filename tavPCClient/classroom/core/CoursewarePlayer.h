// Playing a courseware of the room, offered by the playback window's part
// when it exists. The list asks it once the courseware may be watched (free,
// bought, or the member needs no purchase).
#pragma once

#include <QJsonObject>

class CoursewarePlayer {
public:
  virtual ~CoursewarePlayer() = default;
  // record: the courseware as findById answered it.
  virtual void playCourseware(const QJsonObject& record) = 0;
};
