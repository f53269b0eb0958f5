// libcentra: class recording.
//
// A recorder joins the class as a silent listener of the room's media (MCU address and
// port), composes the class into one video file and, on request, uploads it to the video
// server together with a description. It reports through a plain callback.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#if defined(CENTRA_BUILD)
#define CENTRA_API __declspec(dllexport)
#else
#define CENTRA_API __declspec(dllimport)
#endif
#else
#define CENTRA_API __attribute__((visibility("default")))
#endif

// Notification codes. 0 and 3 are the good ones; every other code is a failure after which
// the recorder does nothing more.
enum record_msg_t {
  record_msg_ready = 0,           // recorder is connected: recording may begin (arg null)
  record_msg_connect_failed = 1,  // the MCU or the video server cannot be reached (arg null)
  record_msg_stream_lost = 2,     // the connection to the class broke off (arg null)
  record_msg_upload_done = 3,     // upload ended; arg points to an int32 result, 0 = success
  record_msg_write_failed = 4,    // the recording cannot be written (arg null)
};

// Container of the recording.
enum video_format_t {
  video_format_flv = 0,
  video_format_mp4 = 1,  // H.264 video, the format the client asks for
};

// Receives notifications, possibly on a thread of the library: context, code, argument
// (valid only during the call).
typedef void (*record_callback_t)(void* context, record_msg_t msg, void* arg);

// What a recorder needs besides create's arguments (the form of create that takes it). Texts
// are copied during the call; a null field is absent.
struct centra_options {
  // The room credential the service handed out on entering the room ("room_credential"): the
  // MCU lets the recorder in with it (only the teacher side's), the video server takes the
  // recording with it.
  const char* credential;
  // The login ticket and the room's file server ("host:port"): the shared pictures and
  // document pages the class shows are fetched from there.
  const char* ticket;
  const char* file_server;
  // Where recordings are kept until they are published (created when missing).
  const char* folder;
  // Null: record the class. Else the file of an unpublished recording (find_unpublished):
  // the recorder starts with it ended, connects nowhere and sends no record_msg_ready;
  // record_seconds, record_file and upload_record work on it.
  const char* recording;
  // How much of an upload the video server holds, possibly on a thread of the library:
  // context, bytes held, bytes in all. May be null.
  void (*upload_progress)(void* context, unsigned long long held, unsigned long long total);
};

class CENTRA_API centra {
public:
  // Starts a recorder for room `roomId` as user `userId` with the class's media at
  // mcuIp:mcuPort, recording in `format`, only the teaching content when `contentOnly`
  // (else content and the video area), uploading to videoServerHost:videoServerPort.
  // Connecting happens in the background and ends in record_msg_ready or a failure. Null
  // on bad arguments.
  static centra* create(unsigned roomId, unsigned userId, const char* mcuIp, unsigned short mcuPort,
                        video_format_t format, bool contentOnly, const char* videoServerHost,
                        unsigned short videoServerPort, record_callback_t callback, void* context);
  // The same with what the recorder needs to record the class and upload it (above); the
  // form before has none of it, so the MCU refuses it (record_msg_connect_failed).
  static centra* create(unsigned roomId, unsigned userId, const char* mcuIp, unsigned short mcuPort,
                        video_format_t format, bool contentOnly, const char* videoServerHost,
                        unsigned short videoServerPort, record_callback_t callback, void* context,
                        const centra_options& options);

  // The newest recording of room `roomId` by `userId` left unpublished in `folder` (the
  // class was recorded, but not published: not offered, the upload failed, the program
  // ended): its file written into `path` (`size` bytes, NUL-terminated); the result is its
  // length in seconds, -1 when there is none or the buffer is too small.
  static int find_unpublished(const char* folder, unsigned roomId, unsigned userId, char* path,
                              unsigned size);
  // Removes an unpublished recording (its file and what belongs to it). 0 done, -1 not one.
  static int discard_unpublished(const char* path);

  // slot 0: stops everything and frees the recorder; when it returns no callback is running
  // or will follow (so not from inside the callback). A running upload is abandoned.
  virtual ~centra() = default;
  // As the client calls slot 0: destroys the recorder (flag 1).
  void destroy(int flag = 1) {
    (void)flag;
    delete this;
  }
  // slot 1: starts recording. 0 done, -1 not ready or already recording.
  virtual int begin_record() = 0;
  // slot 2: ends recording and closes the file. 0 done, -1 not recording.
  virtual int end_record() = 0;
  // slot 3: pauses recording (the file skips the paused time). 0 done, -1 not recording.
  virtual int pause_record() = 0;
  // slot 4: resumes a paused recording. 0 done, -1 not paused.
  virtual int resume_record() = 0;
  // slot 5: seconds recorded so far (pauses excluded); -1 when nothing was recorded.
  virtual int record_seconds() = 0;
  // slot 6: writes the recording file's path into `path` (`size` bytes, NUL-terminated).
  // 0 done, -1 no file or the buffer is too small.
  virtual int record_file(char* path, unsigned size) = 0;
  // slot 7: uploads the ended recording with the description `desc` (`length` 8-bit bytes,
  // not NUL-terminated); the end comes as record_msg_upload_done. 0 started, -1 recording not
  // ended, nothing recorded or an upload already running.
  virtual int upload_record(const char* desc, unsigned length) = 0;
};
