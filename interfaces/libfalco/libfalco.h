// libfalco: lesson-plan conversion client.
//
// Sends an office or PDF document to the conversion server, which turns it into one PNG per
// page; the client stores each page in the output folder as "<base>_<n>.png" (<base> the
// document's file name without its last extension, n counting from 1).
#pragma once

// Progress of one conversion. Called on the client's thread; at most one call at a time.
class fc_observer {
public:
  // slot 0
  virtual ~fc_observer() = default;
  // slot 1: page `curr` of `total` is converted and stored at `pageFile` (valid only during
  // the call).
  virtual void on_progress(int curr, int total, const char* pageFile) = 0;
  // slot 2: the conversion failed and ended: fc_error_* codes.
  virtual void on_error(int err) = 0;
  // slot 3: every page has been reported; nothing follows.
  virtual void on_complete() = 0;
  // slot 4: `curr` of `total` bytes of the document sent to the server.
  virtual void on_upload_progress(unsigned curr, unsigned total) = 0;
};

// Codes of fc_observer::on_error. A network failure may succeed when tried
// again; the others will not (the document, or the right to convert, is at fault).
enum fc_error_code {
  fc_error_file = 1,            // the document cannot be read or a page cannot be stored
  fc_error_network = 2,         // the server cannot be reached, broke off or is busy
  fc_error_convert = 3,         // the server could not read the document
  fc_error_unsupported = 4,     // not a document type the server converts
  fc_error_too_large = 5,       // the document is above the server's size limit
  fc_error_too_many_pages = 6,  // more pages than the server converts
  fc_error_encrypted = 7,       // the document is password-protected
  fc_error_timed_out = 8,       // converting took longer than the server allows
  fc_error_refused = 9,         // the credential is not valid, or its role may not convert
};

namespace qn {

// Sets the credential every client created afterwards shows the server: the
// "room_credential" of the room-entry answer, which the server checks against userId and
// roomId (only the room's teacher may convert). Process-wide; null or "" clears it.
// Without a valid one the server refuses the job and the client reports fc_error_network.
void set_falco_credential(const char* credential);

// Starts converting `srcPath` at the server host:port for (userId, roomId), storing pages in
// `outFolder` (created when missing); paths in the local 8-bit encoding. Returns the client
// handle, or null on bad arguments.
void* create_falco_client(const char* host, unsigned short port, const char* srcPath,
                          const char* outFolder, unsigned userId, unsigned roomId,
                          fc_observer* observer);

// Stops and frees a client; accepts null. When it returns no observer call is running or
// will follow, so it must not be called from inside an observer call.
void destory_falco_client(void* handle);

}  // namespace qn
