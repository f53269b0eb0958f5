// What the classroom asks of the features that live in its window but are
// built elsewhere (recording, the phone link, sharing, annotation). Each is
// attached with Classroom::attach...; while one is not attached there is
// nothing of that kind to end.
#pragma once

class ClassRecording {
public:
  virtual ~ClassRecording() = default;
  virtual bool isRecording() const = 0;
  // Stops a running recording and its clock, and releases the record button.
  virtual void stopRecording() = 0;
};

class PhoneLink {
public:
  virtual ~PhoneLink() = default;
  virtual void closeLink() = 0;
};

class ClassSharing {
public:
  virtual ~ClassSharing() = default;
  virtual bool lessonPlanUploading() const = 0;
  // Ends the own screen, application or picture share.
  virtual void endOwnShare() = 0;
  // Closes every open sharing window (the class stopped).
  virtual void closeSharingWindows() = 0;
};

class ClassAnnotation {
public:
  virtual ~ClassAnnotation() = default;
  virtual void endOwnAnnotation() = 0;
};
