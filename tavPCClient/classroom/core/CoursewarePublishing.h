// What the courseware list offers the recording: the dialog that publishes an ended
// recording as the room's courseware ("发布课件"), and reading the room's list again.
#pragma once

class QDialog;
class QWidget;
class centra;

class CoursewarePublishing {
public:
  virtual ~CoursewarePublishing() = default;
  // The publishing dialog for `recorder`'s recording, a child of `parent`; it has the slots
  // slot_record_updated(bool) (how the upload ended) and slot_upload_progress(qint64,qint64).
  // The caller runs it and deletes it; accepted (1) when the recording was published.
  virtual QDialog* publishingDialog(centra* recorder, QWidget* parent) = 0;
  virtual void reloadCourseware() = 0;
};
