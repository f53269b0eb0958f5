// bench-video-fec: how many frames survive a lossy link with the video path's XOR FEC alone,
// and with FEC plus retransmission, for random and burst loss at 5, 10 and 20 %, and how the
// measured packet recovery compares with the theory of single-loss XOR recovery.
//
// The stream is real encoder output (640x480 at 15 fps, 600 kbit/s, a moving picture), cut
// into packets by gen_fec_packet at the FEC shares the sender uses (10, 20, 30 %) and fed to
// received_fec_packet after a simulated link. Retransmission: a packet still missing after FEC
// is asked for again up to 3 times (the receiver asks every 50 ms and gives a frame up after
// about 200 ms); each copy crosses the same link.
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "velmedia/velfec.h"
#include "velmedia/velvideo_enc.h"

namespace {

using bytes = std::vector<uint8_t>;

struct encoded_frame {
  bytes data;
  bool key;
};

struct collect : velcode_enc_data {
  std::vector<encoded_frame> frames;
  void on_encoded_data(const uint8_t* d, unsigned n, uint32_t, int type) override {
    frames.push_back({bytes(d, d + n), type == 1});
  }
};

std::vector<encoded_frame> make_stream(int count) {
  constexpr int w = 640, h = 480;
  collect sink;
  std::unique_ptr<velvideo_enc> enc(velvideo_enc::create(w, h, 15, 600, &sink, false));
  bytes picture(velmedia_i420_size(w, h));
  for (int n = 0; n < count; ++n) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool ball = ((x - 4 * n) & 127) < 40 && ((y - 2 * n) & 127) < 40;
        picture[y * w + x] = ball ? 230 : static_cast<uint8_t>(16 + ((x * 3 + y + n) & 127));
      }
    for (std::size_t i = w * h; i < picture.size(); ++i)
      picture[i] = static_cast<uint8_t>(96 + ((i + n) & 63));
    enc->encode(picture.data(), static_cast<unsigned>(picture.size()), 66 * n);
  }
  return sink.frames;
}

struct packet {
  bytes data;
  bool media;
  uint16_t sequence;
  int frame;
};

std::vector<packet> packetise(const std::vector<encoded_frame>& frames, int percent) {
  struct sink_t {
    std::vector<packet> packets;
    int frame = 0;
  } sink;
  std::unique_ptr<gen_fec_packet> gen(gen_fec_packet::create(
      7,
      [](const uint8_t* p, unsigned n, uint32_t, uint16_t seq, void* user) {
        auto* s = static_cast<sink_t*>(user);
        s->packets.push_back({bytes(p, p + n), (p[1] & 0x7f) == 100, seq, s->frame});
      },
      &sink));
  const int rate = percent * 255 / 100;
  gen->set_protection({rate, 30}, {rate, 60});
  for (std::size_t i = 0; i < frames.size(); ++i) {
    sink.frame = static_cast<int>(i);
    gen->send_frame(frames[i].data.data(), static_cast<unsigned>(frames[i].data.size()),
                    static_cast<uint32_t>(66 * i), frames[i].key);
  }
  return sink.packets;
}

// A lossy link: independent losses, or bursts (Gilbert model, bursts of 3 on average).
class link {
public:
  link(double loss, bool burst, uint32_t seed) : loss_(loss), burst_(burst), rng_(seed) {}
  bool drops() {
    std::uniform_real_distribution<double> u(0, 1);
    if (!burst_)
      return u(rng_) < loss_;
    const double leave_bad = 1.0 / 3.0;
    const double enter_bad = loss_ * leave_bad / (1.0 - loss_);
    bad_ = bad_ ? u(rng_) >= leave_bad : u(rng_) < enter_bad;
    return bad_;
  }

private:
  double loss_;
  bool burst_;
  std::mt19937 rng_;
  bool bad_ = false;
};

struct result {
  double frames_fec = 0;     // frames whole after FEC alone
  double frames_retx = 0;    // frames whole with retransmission too
  double packet_loss = 0;    // media packets lost on the link
  double residual_loss = 0;  // media packets still missing after FEC
  double overhead = 0;       // FEC packets per media packet
};

result run(const std::vector<encoded_frame>& frames, const std::vector<packet>& packets,
           double loss, bool burst, uint32_t seed) {
  link wire(loss, burst, seed);
  std::set<uint16_t> got;
  std::unique_ptr<received_fec_packet> recv(received_fec_packet::create(
      100, 101, 1,
      [](const velrtp_header* h, const uint8_t*, unsigned, void* user) {
        static_cast<std::set<uint16_t>*>(user)->insert(h->sequence);
      },
      &got));
  std::size_t media = 0, fec = 0, lost = 0;
  for (const packet& p : packets) {
    (p.media ? media : fec)++;
    if (wire.drops()) {
      lost += p.media;
      continue;
    }
    recv->feed(p.data.data(), static_cast<unsigned>(p.data.size()));
  }
  std::map<int, std::vector<uint16_t>> frame_packets;
  for (const packet& p : packets)
    if (p.media)
      frame_packets[p.frame].push_back(p.sequence);
  std::size_t whole_fec = 0, whole_retx = 0, residual = 0;
  for (const auto& entry : frame_packets) {
    bool whole = true, whole_after = true;
    for (uint16_t s : entry.second) {
      if (got.count(s))
        continue;
      whole = false;
      ++residual;
      bool arrived = false;
      for (int attempt = 0; attempt < 3 && !arrived; ++attempt)
        arrived = !wire.drops();
      whole_after = whole_after && arrived;
    }
    whole_fec += whole;
    whole_retx += whole_after;
  }
  result r;
  r.frames_fec = double(whole_fec) / double(frames.size());
  r.frames_retx = double(whole_retx) / double(frames.size());
  r.packet_loss = double(lost) / double(media);
  r.residual_loss = double(residual) / double(media);
  r.overhead = double(fec) / double(media);
  return r;
}

// Residual loss of XOR parity over groups of k media packets with one FEC packet each, with
// independent loss p: a media packet stays lost when it is lost and so is at least one other
// packet of its group (k - 1 media and the FEC packet).
double theory_residual(double p, double k) {
  return p * (1.0 - std::pow(1.0 - p, k));
}

}  // namespace

int main() {
  constexpr int frame_count = 450;  // 30 s at 15 fps
  constexpr int runs = 5;
  const auto frames = make_stream(frame_count);
  std::size_t bytes_total = 0, keys = 0;
  for (const auto& f : frames) {
    bytes_total += f.data.size();
    keys += f.key;
  }
  std::printf("stream: %zu frames (%zu key), %.0f kbit/s, 640x480 at 15 fps\n\n", frames.size(),
              keys, bytes_total * 8.0 / 1000.0 / (frames.size() / 15.0));
  std::printf("%-7s %5s %5s %9s %9s %10s %11s %11s %10s\n", "loss", "rate", "FEC", "overhead",
              "pkt loss", "after FEC", "XOR theory", "frames FEC", "FEC+retx");
  for (bool burst : {false, true}) {
    for (double loss : {0.05, 0.10, 0.20}) {
      for (int percent : {0, 10, 20, 30}) {
        const auto packets = packetise(frames, percent);
        result sum;
        for (int r = 0; r < runs; ++r) {
          const result one = run(frames, packets, loss, burst, 1000 + r);
          sum.frames_fec += one.frames_fec / runs;
          sum.frames_retx += one.frames_retx / runs;
          sum.packet_loss += one.packet_loss / runs;
          sum.residual_loss += one.residual_loss / runs;
          sum.overhead += one.overhead / runs;
        }
        // Each FEC packet covers 1/overhead media packets on average.
        const double theory =
            percent == 0 ? loss : theory_residual(loss, 1.0 / std::max(sum.overhead, 1e-9));
        std::printf("%-7s %4.0f%% %4d%% %8.1f%% %8.1f%% %9.1f%% %10.1f%% %10.1f%% %9.1f%%\n",
                    burst ? "burst" : "random", loss * 100, percent, sum.overhead * 100,
                    sum.packet_loss * 100, sum.residual_loss * 100,
                    burst ? std::nan("") : theory * 100, sum.frames_fec * 100,
                    sum.frames_retx * 100);
      }
    }
  }
  std::printf(
      "\nXOR theory: residual loss p(1-(1-p)^k) of independent loss p with one FEC packet\n"
      "per k media packets (k from the measured overhead); not defined for bursts.\n");
  return 0;
}
