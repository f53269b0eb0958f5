// Message-server client: one connection to one channel of the message server.
//
// velmsgs::create returns at once; the client connects on its own thread and
// reports through the observer. Reconnecting is the owner's job: after a failed
// connect state or a disconnect it deletes the client and creates a new one.
#pragma once

#if defined(_WIN32)
#if defined(LIBCORDA_BUILD)
#define VELMSG_API __declspec(dllexport)
#else
#define VELMSG_API __declspec(dllimport)
#endif
#else
#define VELMSG_API __attribute__((visibility("default")))
#endif

namespace velmsg {

// Callbacks run on the client's own thread; implementations copy the data and
// hand it to their own thread. None of them is called after the client's
// deletion has returned. No virtual destructor: the client never frees its observer.
class msg_observer {
public:
  // slot 0: one message, a NUL-terminated UTF-8 text valid only during the call.
  virtual void recv_msg(const char* msg) = 0;
  // slot 1: 1 connected; any other value: the connection attempt failed
  // (connect_failure) and nothing more follows.
  virtual void connect2msgs_state(int state) = 0;
  // slot 2: the connection dropped after it had been up; reported once.
  virtual void disconnect_from_msgs() = 0;

protected:
  ~msg_observer() = default;
};

// Values of connect2msgs_state other than 1.
enum connect_failure : int {
  connect_failed_resolve = -1,   // host name not resolved
  connect_failed_refused = -2,   // no TCP connection, or it broke before the welcome
  connect_failed_timeout = -3,   // no answer from the server in time
  connect_failed_rejected = -4,  // the server refused the hello (version, credential)
  connect_failed_protocol = -5,  // the server spoke something else
};

// Results of send.
enum send_result : int {
  send_queued = 0,
  send_not_connected = -1,  // not yet connected, or the connection is gone
  send_too_large = -2,      // text longer than the protocol carries (just under 1 MiB)
  send_bad_argument = -3,   // null text, or a target that is neither "*" nor a decimal user id
  send_queue_full = -4,     // the server is not reading; too much is waiting
};

class VELMSG_API velmsgs {
public:
  // observer must outlive the client. host: NUL-terminated name or address.
  // Returns null only when observer is null or resources are exhausted.
  // Sends no credential; the message server refuses such a hello (connect_failed_rejected).
  static velmsgs* create(msg_observer* observer, unsigned int user_id, unsigned int channel_id,
                         const char* host, unsigned short port);
  // The same with the credential the service issued for user_id on channel_id
  // (NUL-terminated printable ASCII, at most 255 characters), shown in the hello.
  // Null or empty sends none; any other unusable text is reported as
  // connect_failed_rejected without connecting.
  static velmsgs* create(msg_observer* observer, unsigned int user_id, unsigned int channel_id,
                         const char* host, unsigned short port, const char* credential);

  // slot 0: closes the connection, stops and joins the client's thread; no
  // callback runs after it returns. May also be called from inside a callback.
  virtual ~velmsgs();
  // slot 1: queues text for every connection of the channel whose user id is
  // target (decimal), or for all of them with "*", the sender's own included.
  // Thread-safe. Returns a send_result.
  virtual int send(const char* msg, const char* target) = 0;

  // As the client calls slot 0: closes and destroys the object (flag 1, the only value used).
  void destroy(int flag = 1) {
    (void)flag;
    delete this;
  }

  velmsgs(const velmsgs&) = delete;
  velmsgs& operator=(const velmsgs&) = delete;

protected:
  velmsgs() = default;
};

}  // namespace velmsg
