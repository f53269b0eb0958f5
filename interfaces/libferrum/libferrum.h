// libferrum: file upload to and download from a room's file server.
//
// A transfer starts in create and runs on the library's own thread, reporting through a
// trans_observer. A file is identified on the server by room, user and file name. A broken
// connection is retried inside the transfer (a few times, continuing where it stopped)
// before trans_error_network is reported. Wire use: libproject/libferrum/README.md.
#pragma once

// Progress of one transfer. Called on the library's thread; at most one call at a time.
class trans_observer {
public:
  // slot 0
  virtual ~trans_observer() = default;
  // slot 1: `curr` of `total` bytes moved; the last report has curr == total.
  virtual void progress(unsigned curr, unsigned total) = 0;
  // slot 2: the transfer failed and ended. Codes: trans_error_file (1), trans_error_refused
  // (2), anything else a network failure that may succeed when tried again.
  virtual void trans_error(int code) = 0;
  // slot 3: the transfer finished (after the last progress report).
  virtual void complete() = 0;
};

// Error codes of trans_observer::trans_error.
enum trans_error_code {
  trans_error_file = 1,     // the local file cannot be read or written
  trans_error_refused = 2,  // the server refused: bad ticket, no such file
  trans_error_network = 3,  // connection failed or broke off
};

// An upload in progress. Freed with release(); deleting it also stops it.
class velupload {
public:
  // Starts uploading `localPath` (local 8-bit encoding) as the file of (roomId, userId) named
  // after the path's file name, to fileServerIp:fileServerPort, authorised by the login
  // `ticket` (UTF-8). Null on bad arguments (null texts, a missing observer).
  static velupload* create(trans_observer* observer, unsigned userId, unsigned roomId,
                           const char* localPath, const char* ticket, const char* fileServerIp,
                           unsigned short fileServerPort);

  // slot 0: stops the transfer; when it returns no observer call is running or will follow
  // (so not from inside an observer call). An unfinished upload leaves no file behind (the
  // server keeps what arrived under a hidden name that is never served).
  virtual ~velupload() = default;
  // As the client calls slot 0: stops and destroys the object (flag 1, the only value used).
  void release(int flag = 1) {
    (void)flag;
    delete this;
  }
};

// A download in progress. Freed with release(); deleting it also stops it.
class veldownload {
public:
  // Starts downloading the file of (roomId, senderUserId) whose name is the file name of
  // `localPath`, into `localPath`, from fileServerIp:fileServerPort for `ownUserId`
  // authorised by `ticket`. The bytes go to "<localPath>.part" (its validator beside it in
  // "<localPath>.part.etag"), renamed to localPath only when complete, so localPath never
  // holds part of a file. After trans_error_network the .part stays, and a new download to
  // the same localPath continues it if the server's file is unchanged (else starts over).
  // Null on bad arguments.
  static veldownload* create(trans_observer* observer, unsigned ownUserId, unsigned roomId,
                             unsigned senderUserId, const char* localPath, const char* ticket,
                             const char* fileServerIp, unsigned short fileServerPort);

  // slot 0: as velupload's. Stopping a download still running removes its .part; one that
  // ended with trans_error_network keeps it (see create).
  virtual ~veldownload() = default;
  // As the client calls slot 0: stops and destroys the object (flag 1, the only value used).
  void release(int flag = 1) {
    (void)flag;
    delete this;
  }
};
