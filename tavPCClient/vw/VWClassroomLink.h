// What the whiteboard reaches of the classroom that created it.
#pragma once

namespace vw {

class VWSharedPictureDisplay;

class VWClassroomLink {
public:
  virtual ~VWClassroomLink() = default;
  // The display of shared pictures and pages; null when the classroom has none.
  // It lives as long as the classroom.
  virtual VWSharedPictureDisplay* sharedPictureDisplay() = 0;
};

}  // namespace vw
