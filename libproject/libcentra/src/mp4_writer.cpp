#include "mp4_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <vector>

namespace centra_impl {

struct mp4_writer::impl {
  mp4_settings settings;
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* video_stream = nullptr;
  AVStream* audio_stream = nullptr;
  SwsContext* scaler = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  std::vector<float> pending[2];  // samples per channel not yet in a frame
  int64_t audio_pts = 0;
  bool header_written = false;

  ~impl() {
    sws_freeContext(scaler);
    av_frame_free(&picture);
    av_frame_free(&sound);
    av_packet_free(&packet);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    if (format) {
      if (format->pb)
        avio_closep(&format->pb);
      avformat_free_context(format);
    }
  }
};

namespace {

std::string av_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

mp4_writer::mp4_writer() = default;

mp4_writer::~mp4_writer() {
  close();
}

bool mp4_writer::is_open() const {
  return m_ && m_->header_written;
}

int64_t mp4_writer::bytes() const {
  return m_ && m_->format && m_->format->pb ? avio_tell(m_->format->pb) : 0;
}

bool mp4_writer::fail(const std::string& what, int code) {
  if (!failed_) {
    failed_ = true;
    error_ = what + (code < 0 ? ": " + av_text(code) : std::string());
  }
  return false;
}

bool mp4_writer::open(const std::string& path, const mp4_settings& settings, std::string* error) {
  m_ = std::make_unique<impl>();
  impl& m = *m_;
  m.settings = settings;
  auto refuse = [&](const std::string& what, int code) {
    fail(what, code);
    *error = error_;
    m_.reset();
    return false;
  };
  int rc = avformat_alloc_output_context2(&m.format, nullptr, "mp4", path.c_str());
  if (rc < 0 || !m.format)
    return refuse("no MP4 muxer", rc);

  const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
  const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!h264 || !aac)
    return refuse("no H.264 or AAC encoder", 0);

  m.video = avcodec_alloc_context3(h264);
  m.video->width = settings.width;
  m.video->height = settings.height;
  m.video->pix_fmt = AV_PIX_FMT_YUV420P;
  // Pictures carry their time in milliseconds: the rate follows the class, not a fixed clock.
  m.video->time_base = AVRational{1, 1000};
  m.video->framerate = AVRational{settings.fps, 1};
  m.video->gop_size = settings.fps * settings.key_seconds;
  m.video->rc_max_rate = int64_t{settings.max_kbps} * 1000;
  m.video->rc_buffer_size = settings.max_kbps * 2000;
  m.video->thread_count = 2;
  if (m.format->oformat->flags & AVFMT_GLOBALHEADER)
    m.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(m.video->priv_data, "preset", "veryfast", 0);
  av_opt_set(m.video->priv_data, "crf", std::to_string(settings.crf).c_str(), 0);
  // The key frames come at the fixed period (the fragments follow them), not at scene cuts.
  av_opt_set(m.video->priv_data, "x264-params", "scenecut=0", 0);
  if ((rc = avcodec_open2(m.video, h264, nullptr)) < 0)
    return refuse("the H.264 encoder does not open", rc);

  m.audio = avcodec_alloc_context3(aac);
  m.audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
  m.audio->sample_rate = settings.sample_rate;
  av_channel_layout_default(&m.audio->ch_layout, settings.channels);
  m.audio->bit_rate = int64_t{settings.audio_kbps} * 1000;
  m.audio->time_base = AVRational{1, settings.sample_rate};
  if (m.format->oformat->flags & AVFMT_GLOBALHEADER)
    m.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if ((rc = avcodec_open2(m.audio, aac, nullptr)) < 0)
    return refuse("the AAC encoder does not open", rc);

  m.video_stream = avformat_new_stream(m.format, nullptr);
  m.audio_stream = avformat_new_stream(m.format, nullptr);
  if (!m.video_stream || !m.audio_stream)
    return refuse("no streams", 0);
  avcodec_parameters_from_context(m.video_stream->codecpar, m.video);
  avcodec_parameters_from_context(m.audio_stream->codecpar, m.audio);
  m.video_stream->time_base = m.video->time_base;
  m.audio_stream->time_base = m.audio->time_base;

  if ((rc = avio_open(&m.format->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
    return refuse("cannot write " + path, rc);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
  rc = avformat_write_header(m.format, &options);
  av_dict_free(&options);
  if (rc < 0)
    return refuse("cannot write the file's head", rc);
  m.header_written = true;
  avio_flush(m.format->pb);

  m.scaler =
      sws_getContext(settings.width, settings.height, AV_PIX_FMT_BGRA, settings.width,
                     settings.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  m.picture = av_frame_alloc();
  m.sound = av_frame_alloc();
  m.packet = av_packet_alloc();
  if (!m.scaler || !m.picture || !m.sound || !m.packet)
    return refuse("out of memory", 0);
  m.picture->format = AV_PIX_FMT_YUV420P;
  m.picture->width = settings.width;
  m.picture->height = settings.height;
  if ((rc = av_frame_get_buffer(m.picture, 0)) < 0)
    return refuse("out of memory", rc);
  m.sound->format = AV_SAMPLE_FMT_FLTP;
  m.sound->sample_rate = settings.sample_rate;
  av_channel_layout_copy(&m.sound->ch_layout, &m.audio->ch_layout);
  m.sound->nb_samples = m.audio->frame_size > 0 ? m.audio->frame_size : 1024;
  if ((rc = av_frame_get_buffer(m.sound, 0)) < 0)
    return refuse("out of memory", rc);
  return true;
}

namespace {

// Sends a frame (null: the end) to the encoder and writes what comes out.
int encode(AVFormatContext* format, AVCodecContext* codec, AVStream* stream, AVPacket* packet,
           const AVFrame* frame) {
  int rc = avcodec_send_frame(codec, frame);
  if (rc < 0 && rc != AVERROR_EOF)
    return rc;
  for (;;) {
    rc = avcodec_receive_packet(codec, packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
      return 0;
    if (rc < 0)
      return rc;
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    const bool key = packet->flags & AV_PKT_FLAG_KEY;
    rc = av_interleaved_write_frame(format, packet);
    if (rc < 0)
      return rc;
    // A key frame closed the fragment before it: to the disk with it.
    if (key && codec->codec_type == AVMEDIA_TYPE_VIDEO)
      avio_flush(format->pb);
    if (format->pb->error < 0)
      return format->pb->error;
  }
}

}  // namespace

bool mp4_writer::write_video(const uint8_t* pixels, int stride, int64_t ms) {
  if (!is_open() || failed_)
    return false;
  if (ms <= last_ms_)
    return true;
  impl& m = *m_;
  int rc = av_frame_make_writable(m.picture);
  if (rc < 0)
    return fail("out of memory", rc);
  const uint8_t* planes[1] = {pixels};
  const int strides[1] = {stride};
  sws_scale(m.scaler, planes, strides, 0, m.settings.height, m.picture->data, m.picture->linesize);
  m.picture->pts = ms;
  // The nominal interval: the last picture of a fragment has a length without guessing.
  m.picture->pkt_duration = 1000 / m.settings.fps;
  last_ms_ = ms;
  rc = encode(m.format, m.video, m.video_stream, m.packet, m.picture);
  return rc < 0 ? fail("cannot write the video", rc) : true;
}

bool mp4_writer::send_audio_frame(bool flush) {
  impl& m = *m_;
  const size_t size = static_cast<size_t>(m.sound->nb_samples);
  const size_t have = m.pending[0].size();
  if (have == 0 || (!flush && have < size))
    return true;
  int rc = av_frame_make_writable(m.sound);
  if (rc < 0)
    return fail("out of memory", rc);
  const size_t n = std::min(have, size);
  for (int c = 0; c < m.settings.channels && c < 2; ++c) {
    float* out = reinterpret_cast<float*>(m.sound->data[c]);
    std::copy(m.pending[c].begin(), m.pending[c].begin() + static_cast<long>(n), out);
    std::fill(out + n, out + size, 0.0f);
    m.pending[c].erase(m.pending[c].begin(), m.pending[c].begin() + static_cast<long>(n));
  }
  m.sound->pts = m.audio_pts;
  m.audio_pts += static_cast<int64_t>(size);
  rc = encode(m.format, m.audio, m.audio_stream, m.packet, m.sound);
  return rc < 0 ? fail("cannot write the sound", rc) : true;
}

bool mp4_writer::write_audio(const int16_t* samples, size_t frames) {
  if (!is_open() || failed_)
    return false;
  impl& m = *m_;
  const int channels = m.settings.channels;
  for (size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels && c < 2; ++c)
      m.pending[c].push_back(samples[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] /
                             32768.0f);
  while (m.pending[0].size() >= static_cast<size_t>(m.sound->nb_samples))
    if (!send_audio_frame(false))
      return false;
  return true;
}

bool mp4_writer::close() {
  if (!m_)
    return !failed_;
  impl& m = *m_;
  if (m.header_written) {
    if (!failed_) {
      send_audio_frame(true);
      int rc = encode(m.format, m.video, m.video_stream, m.packet, nullptr);
      if (rc < 0)
        fail("cannot write the video", rc);
      rc = encode(m.format, m.audio, m.audio_stream, m.packet, nullptr);
      if (rc < 0)
        fail("cannot write the sound", rc);
    }
    // The end of the file (its fragment index); what is written stays readable without it.
    const int rc = av_write_trailer(m.format);
    if (rc < 0)
      fail("cannot end the file", rc);
    if (m.format->pb) {
      avio_flush(m.format->pb);
      if (m.format->pb->error < 0)
        fail("cannot write the file", m.format->pb->error);
    }
  }
  m_.reset();
  return !failed_;
}

}  // namespace centra_impl
