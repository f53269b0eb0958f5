// velmedia: RTP packetising of video frames with forward error correction.
//
// Packets (all fields big-endian, each packet at most velfec_max_packet bytes):
//  - RTP header, 12 bytes: version 2, no padding, extension or CSRC; marker bit; payload
//    type; sequence number (bytes 2-3); timestamp (bytes 4-7); SSRC (bytes 8-11).
//  - Media packet: payload type = the RED type (100). Its payload is one RED byte (the media
//    payload type, 1) that receivers skip, then a piece of the frame's H.264 Annex-B stream;
//    a frame's first packet begins with its start code, its last packet has the marker bit.
//    Media packets take consecutive sequence numbers, frame after frame, with no gaps, so a
//    receiver sees a frame as complete when its numbers run without a gap to the marker.
//  - FEC packet: payload type = the FEC type (101), marker 0, the sequence number and
//    timestamp of the last media packet it protects; its payload is the engine's own. It
//    follows the packets it protects. A cache of packets keyed by sequence number (sender
//    history, MCU cache) keeps the media packet and tells FEC packets apart by payload type.
#pragma once

#include <cstdint>

// Largest packet the generator produces, RTP header included.
constexpr unsigned velfec_max_packet = 1200;
// Size of the RTP header of every packet.
constexpr unsigned velrtp_header_size = 12;

// A media packet's RTP header fields, host order, as handed to the receiving side.
struct velrtp_header {
  uint8_t marker;        // first byte: 1 on the last packet of a frame, else 0
  uint8_t payload_type;  // RTP payload type
  uint16_t sequence;     // media sequence number
  uint32_t timestamp;    // frame timestamp (milliseconds)
  uint32_t ssrc;         // sender's SSRC (its user id)
};

// Reads the RTP header at the start of a packet. False when the packet is shorter than
// velrtp_header_size or not RTP version 2.
inline bool velrtp_read_header(const uint8_t* packet, unsigned length, velrtp_header* out) {
  if (!packet || !out || length < velrtp_header_size || (packet[0] >> 6) != 2)
    return false;
  out->marker = (packet[1] & 0x80) ? 1 : 0;
  out->payload_type = packet[1] & 0x7f;
  out->sequence = static_cast<uint16_t>((packet[2] << 8) | packet[3]);
  out->timestamp = (uint32_t(packet[4]) << 24) | (uint32_t(packet[5]) << 16) |
                   (uint32_t(packet[6]) << 8) | uint32_t(packet[7]);
  out->ssrc = (uint32_t(packet[8]) << 24) | (uint32_t(packet[9]) << 16) |
              (uint32_t(packet[10]) << 8) | uint32_t(packet[11]);
  return true;
}

// Protection of one frame class: `rate` is the share of FEC packets per media packet in
// 1/255 units (percent * 255 / 100), `max_frames` how many frames one FEC group may span.
struct velfec_protection_t {
  int rate;
  int max_frames;
};

// Receives each packet the generator produces, from inside send_frame: the whole packet,
// its length, its RTP timestamp and sequence number. `packet` is valid only during the call.
typedef void (*gen_fec_packet_callback)(const uint8_t* packet, unsigned length, uint32_t timestamp,
                                        uint16_t sequence, void* user);

// Sending side: cuts encoded frames into media packets and adds FEC packets. Not
// thread-safe: one thread sends at a time. Sequence numbers start at 0.
class gen_fec_packet {
public:
  // Packets carry `ssrc`. Until set_payload_types the types are (1, 100, 101, kind 1) and the
  // protection is {0, 1} for both frame classes (no FEC). Null when `callback` is null.
  static gen_fec_packet* create(uint32_t ssrc, gen_fec_packet_callback callback, void* user);

  // slot 0
  virtual ~gen_fec_packet() = default;

  // slot 1: packetises one encoded frame (Annex-B, starting with a start code) with its
  // timestamp; `key` selects the key-frame protection. All its packets, and the FEC packets
  // due, go to the callback before this returns. 0 done, -1 empty or null frame.
  virtual int send_frame(const uint8_t* frame, unsigned length, uint32_t timestamp, bool key) = 0;
  // slot 2: payload types of the media (1), RED (100) and FEC (101) packets, and the media
  // kind of the stream (1, 4 or 32; both ends of a stream are given the same kind). 0 done,
  // -1 when a type is outside 0-127 or two are equal.
  virtual int set_payload_types(int media_pt, int red_pt, int fec_pt, int media_kind) = 0;
  // slot 3: protection for delta frames and for key frames (rate 0-255, max_frames >= 1).
  // 0 done, -1 bad values.
  virtual int set_protection(const velfec_protection_t& delta, const velfec_protection_t& key) = 0;
};

// Receives each media packet (received or recovered), from inside feed: its header, its
// payload (starting with the RED byte) and the payload length. Valid only during the call.
typedef void (*received_fec_packet_callback)(const velrtp_header* header, const uint8_t* payload,
                                             unsigned length, void* user);

// Receiving side: passes media packets on and rebuilds lost ones from FEC packets. Not
// thread-safe: one thread feeds at a time.
class received_fec_packet {
public:
  // `red_pt` and `fec_pt` as given to the sender (100, 101), `media_kind` the stream's kind.
  // Null when `callback` is null or the types are bad.
  static received_fec_packet* create(int red_pt, int fec_pt, int media_kind,
                                     received_fec_packet_callback callback, void* user);

  // slot 0
  virtual ~received_fec_packet() = default;

  // slot 1: takes one datagram. A media packet goes to the callback at once; any packets it
  // or an FEC packet lets the receiver rebuild follow. The receiver holds the packets of the
  // last 1024 numbers (a number 1024 away takes a held one's place); a held number is not
  // delivered again. 0 done; -1 for a datagram that is not a
  // packet of this stream (too short, not RTP, unknown payload type, a media packet without
  // payload); it is dropped.
  virtual int feed(const uint8_t* datagram, unsigned length) = 0;
};
