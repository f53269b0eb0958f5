// libpavo: media transport to the MCU (class control, peer messages, audio and video).
//
// The classroom makes one instance with Libpavo::create after entering a room and frees it
// with Libpavo::destory when leaving. Results and events come back through the velmcu2ui
// observer, on the library's threads: an observer only copies what it is given (every
// pointer is valid during the call only, except video frames, see event 12) and hands the
// work to its own thread.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#if defined(LIBPAVO_STATIC)
#define LIBPAVO_API
#elif defined(LIBPAVO_BUILD)
#define LIBPAVO_API __declspec(dllexport)
#else
#define LIBPAVO_API __declspec(dllimport)
#endif
#else
#define LIBPAVO_API __attribute__((visibility("default")))
#endif

// Media kinds: one bit each, or-ed into masks. A kind and a user id name one stream.
enum : int {
  media_kind_video = 1,       // camera
  media_kind_audio = 2,       // microphone
  media_kind_screen = 4,      // teaching-tool screen share
  media_kind_doc_camera = 32  // document camera
};

// Device mask bits of user_media_t in events 4 and 9.
enum : uint32_t { device_camera = 1, device_microphone = 2 };

// Media role of the own user; the library only keeps it.
enum user_role_t : int {
  user_role_teacher = 0,
  user_role_student = 1,
  user_role_parent = 2,
  user_role_other = 3
};

// {user id, mask}: the mask is a device mask (events 4, 9) or published media kinds (13).
struct user_media_t {
  uint32_t user_id;
  uint32_t mask;
};

// Codes of velmcu2ui::on_media_event and the record `data` points to.
enum pavo_event : int {
  pavo_event_media_open = 2,       // media_stream_t: a stream is available (own: sender started)
  pavo_event_media_close = 3,      // media_stream_t: a stream closed
  pavo_event_user_enter = 4,       // user_media_t {user id, device mask}
  pavo_event_user_leave = 5,       // uint32_t user id
  pavo_event_disconnected = 7,     // null: the MCU connection is lost
  pavo_event_reserved = 8,         // uint32_t[2]
  pavo_event_user_list = 9,        // user_list_t: users present with their device masks
  pavo_event_connect_state = 11,   // int: 1 = connected and logged in
  pavo_event_video_frame = 12,     // video_frame_t
  pavo_event_existing_media = 13,  // media_list_t: media already published when joining
  pavo_event_record_volume = 17,   // uint16_t microphone level
  pavo_event_mark_bitmap = 18,     // mark_bitmap_t: the drawing layer over the own screen share
  pavo_event_camera_timeout = 20   // null: the camera delivered no frame for 5 s
};

struct media_stream_t {  // events 2 and 3
  uint32_t user_id;
  uint32_t kind;
};

struct user_list_t {  // event 9
  user_media_t* users;
  unsigned count;
};

struct media_list_t {  // event 13: {user id, published kinds}
  unsigned count;
  user_media_t* list;
};

// Event 18: the screen sender asks for the drawing layer laid over the own screen share.
// data points at this record; the observer writes a 1920x1080 picture of 32-bit words
// (Qt's ARGB32 premultiplied, native-endian 0xAARRGGBB) into `data` (capacity bytes), sets
// width, height and len (bytes written) and leaves len 0 when there is nothing to lay over.
// Asked on the screen sender's encoding thread, at most 5 times a second; the answer holds
// until the next question. Only an answer with len == width*height*4 <= capacity is used.
struct mark_bitmap_t {
  uint8_t* data;
  unsigned capacity;  // 1920*1080*4
  int width;
  int height;
  int len;
};

// Pixel layouts of event-12 pictures (media_cmd_frame_format), rows packed without padding.
enum pavo_frame_format : int {
  // 3 bytes per pixel, R, G, B (Qt's RGB888): width*height*3 bytes. The default.
  pavo_frame_rgb24 = 3,
  // One native-endian 32-bit word 0xffRRGGBB per pixel (Qt's RGB32, painted without
  // conversion): width*height*4 bytes.
  pavo_frame_rgb32 = 4
};

// Event 12: one picture (the camera and screen previews and every received stream) in the
// layout chosen with media_cmd_frame_format: width*height*3 bytes by default, *4 for
// pavo_frame_rgb32. The pixels belong to the observer from the event on and must be
// returned with media_ctrl(media_cmd_free_frame, pixels).
struct video_frame_t {
  int width;
  int height;
  uint8_t* pixels;
  uint32_t user_id;
  int kind;
};

// media_ctrl commands. Scalar arguments travel in `arg` itself: (void*)(intptr_t)value.
enum media_ctrl_cmd : unsigned {
  media_cmd_device_count = 2,     // arg: kind (1 camera, 2 microphone) -> count
  media_cmd_device_name = 3,      // device_name_t*
  media_cmd_select_device = 4,    // device_select_t*
  media_cmd_open_media = 5,       // user_media_kind_t*
  media_cmd_close_media = 6,      // user_media_kind_t*
  media_cmd_user_list = 9,        // none: the MCU answers with event 9
  media_cmd_reserved = 13,        // arg: value
  media_cmd_share_source = 14,    // share_source_t*
  media_cmd_stop_share = 15,      // none
  media_cmd_free_frame = 16,      // the pixels of an event-12 frame
  media_cmd_subscribe = 17,       // user_media_kind_t*
  media_cmd_unsubscribe = 18,     // user_media_kind_t*
  media_cmd_clip_seconds = 22,    // const char* path -> big-endian u32 at byte 5
  media_cmd_speaker_count = 23,   // none -> count
  media_cmd_speaker_name = 24,    // speaker_name_t*
  media_cmd_select_speaker = 25,  // int* index
  media_cmd_start_level = 26,     // arg: microphone index
  media_cmd_stop_level = 27,      // none
  media_cmd_record_source = 30,   // share_source_t* or null (resume the grabber)
  media_cmd_pause_grab = 31,      // none
  media_cmd_video_on = 32,        // none: deliver event 12
  media_cmd_video_off = 33,       // none: drop frames instead
  // arg: pavo_frame_rgb24 (3) or pavo_frame_rgb32 (4), the layout of event-12 pictures from
  // now on; -1 for anything else. Usable without a connection.
  media_cmd_frame_format = 34
};

constexpr unsigned pavo_name_size = 128;

struct device_name_t {  // command 3
  int kind;
  uint16_t index;
  char name[pavo_name_size];
};

struct device_select_t {  // command 4
  int kind;
  uint16_t index;
};

struct speaker_name_t {  // command 24
  uint16_t index;
  char name[pavo_name_size];
};

struct user_media_kind_t {  // commands 5, 6, 17, 18
  uint32_t user_id;
  int kind;
};

struct share_source_t {  // commands 14, 30
  int32_t source;
  int32_t live;
};

// The classroom's side. Slots 2-29 are called from the MCU connection thread, slot 30 from
// video receiver threads, slot 1 from several threads.
class LIBPAVO_API velmcu2ui {
public:
  virtual ~velmcu2ui() = default;                                                     // slot 0
  virtual void on_media_event(int event, void* data) = 0;                             // slot 1
  virtual void ss_start_class(uint32_t user_id) = 0;                                  // slot 2
  virtual void start_class_ack(int result) = 0;                                       // slot 3
  virtual void ss_stop_class(uint32_t user_id) = 0;                                   // slot 4
  virtual void stop_class_ack(int result) = 0;                                        // slot 5
  virtual void get_class_state_ack(int state) = 0;                                    // slot 6
  virtual void ss_application_share(uint32_t user_id) = 0;                            // slot 7
  virtual void application_share_ack(int result) = 0;                                 // slot 8
  virtual void ss_cancel_application(uint32_t user_id) = 0;                           // slot 9
  virtual void cancel_application_ack(int result) = 0;                                // slot 10
  virtual void ss_reply_share(uint32_t user_id, int reply) = 0;                       // slot 11
  virtual void reply_share_ack(uint32_t user_id, int reply) = 0;                      // slot 12
  virtual void ss_start_share(uint32_t user_id) = 0;                                  // slot 13
  virtual void start_share_ack(int result) = 0;                                       // slot 14
  virtual void ss_stop_share(uint32_t user_id) = 0;                                   // slot 15
  virtual void stop_share_ack(int result) = 0;                                        // slot 16
  virtual void get_share_users_ack(int value, int count, const uint32_t* ids) = 0;    // slot 17
  virtual void ss_start_tag(uint32_t user_id) = 0;                                    // slot 18
  virtual void start_tag_ack(int result) = 0;                                         // slot 19
  virtual void ss_stop_tag(uint32_t user_id) = 0;                                     // slot 20
  virtual void stop_tag_ack(int result) = 0;                                          // slot 21
  virtual void get_tag_users_ack(int value, int count, const uint32_t* ids) = 0;      // slot 22
  virtual void ss_cancel_share(uint32_t user_id) = 0;                                 // slot 23
  virtual void cancel_share_ack(int result) = 0;                                      // slot 24
  virtual void p2p_msg(uint32_t sender_id, const char* data, unsigned length) = 0;    // slot 25
  virtual void p2all_msg(uint32_t sender_id, const char* data, unsigned length) = 0;  // slot 26
  virtual void get_classing_user_ack(int code, uint32_t user_id) = 0;                 // slot 27
  virtual void p2p_msg_ack(uint32_t id, const char* data, unsigned length) = 0;       // slot 28
  virtual void p2all_msg_ack(uint32_t id, const char* data, unsigned length) = 0;     // slot 29
  virtual void user_net_state(uint32_t user_id, int state) = 0;                       // slot 30
};

// The library. Every operation returns 0 when done and -1 when refused; all but media_ctrl
// are refused until the MCU has accepted the login. Operations may be called from any
// thread, also concurrently.
class LIBPAVO_API Libpavo {
public:
  // Null when "videoparam.conf" in the working directory is missing or invalid (it is read
  // at the first call only), or when the observer or the address is missing.
  static Libpavo* create(velmcu2ui* observer, unsigned user_id, unsigned room_id,
                         const char* mcu_ip, unsigned short port, user_role_t role);
  // The same with the room credential the service handed out on entering the room
  // ("room_credential"), which the MCU wants with the room join and the login. The form
  // above sends none, and an MCU that checks credentials then refuses the join (event 7
  // follows). A credential that is not 1 to 160 printable characters is not sent.
  static Libpavo* create(velmcu2ui* observer, unsigned user_id, unsigned room_id,
                         const char* mcu_ip, unsigned short port, user_role_t role,
                         const char* credential);
  // Leaves the MCU, stops every thread and frees the instance. Accepts null.
  static void destory(Libpavo* instance);

  virtual ~Libpavo() = default;                              // slot 0
  virtual int media_ctrl(unsigned cmd, void* arg) = 0;       // slot 1
  virtual int start_class() = 0;                             // slot 2
  virtual int stop_class(uint32_t user_id) = 0;              // slot 3
  virtual int get_class_state() = 0;                         // slot 4
  virtual int application_share() = 0;                       // slot 5
  virtual int cancel_application() = 0;                      // slot 6
  virtual int reply_share(uint32_t user_id, int reply) = 0;  // slot 7
  virtual int start_share() = 0;                             // slot 8
  virtual int stop_share(uint32_t user_id) = 0;              // slot 9
  virtual int get_share_users() = 0;                         // slot 10
  virtual int start_tag() = 0;                               // slot 11
  virtual int stop_tag(uint32_t user_id) = 0;                // slot 12
  virtual int get_tag_users() = 0;                           // slot 13
  virtual int cancel_share(uint32_t user_id) = 0;            // slot 14
  // Up to 2000 bytes travel as one message, longer ones in pieces (at most 1 MiB in all).
  virtual int send_p2p_msg(uint32_t target_id, const uint8_t* data, unsigned length) = 0;  // 15
  virtual int send_p2all_msg(const uint8_t* data, unsigned length) = 0;                    // 16
  virtual int get_classing_user() = 0;  // slot 17
};
