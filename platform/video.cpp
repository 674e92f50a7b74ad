// Video files through FFmpeg: demuxing, decoding and conversion to RGBA.
// Everything a frame needs is allocated when the file opens.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct Video {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwsContext* convert = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  int width = 0, height = 0;
  double time_base = 0;  // seconds per time-stamp unit
  bool draining = false;  // the file is read to its end; the decoder gives what it holds
  std::vector<std::uint8_t> rgba;
};

namespace {

std::string reason(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The decoded frame into video.rgba; false when the frame's size changed (not supported).
bool convert_frame(Video& v) {
  if (v.frame->width != v.width || v.frame->height != v.height) return false;
  v.convert = sws_getCachedContext(v.convert, v.width, v.height, static_cast<AVPixelFormat>(v.frame->format),
                                   v.width, v.height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!v.convert) return false;
  std::uint8_t* planes[4] = {v.rgba.data(), nullptr, nullptr, nullptr};
  int strides[4] = {v.width * 4, 0, 0, 0};
  sws_scale(v.convert, v.frame->data, v.frame->linesize, 0, v.height, planes, strides);
  return true;
}

}  // namespace

Video* open_video(std::string_view path, std::string& error) {
  auto v = std::make_unique<Video>();
  std::string name(path);
  int code = avformat_open_input(&v->format, name.c_str(), nullptr, nullptr);
  if (code < 0) {
    error = reason(code);
    return nullptr;
  }
  auto fail = [&](std::string why) -> Video* {
    error = std::move(why);
    close_video(v.release());
    return nullptr;
  };
  if ((code = avformat_find_stream_info(v->format, nullptr)) < 0) return fail(reason(code));
  const AVCodec* decoder = nullptr;
  v->stream = av_find_best_stream(v->format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (v->stream < 0 || !decoder) return fail("no video stream");
  AVStream* st = v->format->streams[v->stream];
  v->codec = avcodec_alloc_context3(decoder);
  if (!v->codec) return fail("out of memory");
  if ((code = avcodec_parameters_to_context(v->codec, st->codecpar)) < 0) return fail(reason(code));
  if ((code = avcodec_open2(v->codec, decoder, nullptr)) < 0) return fail(reason(code));
  v->width = v->codec->width;
  v->height = v->codec->height;
  if (v->width <= 0 || v->height <= 0 || v->width > kMaxVideoSide || v->height > kMaxVideoSide)
    return fail("unsupported frame size");
  v->time_base = av_q2d(st->time_base);
  v->packet = av_packet_alloc();
  v->frame = av_frame_alloc();
  if (!v->packet || !v->frame) return fail("out of memory");
  v->rgba.assign(static_cast<std::size_t>(v->width) * v->height * 4, 0);
  return v.release();
}

void close_video(Video* v) {
  if (!v) return;
  sws_freeContext(v->convert);
  av_frame_free(&v->frame);
  av_packet_free(&v->packet);
  avcodec_free_context(&v->codec);
  avformat_close_input(&v->format);
  delete v;
}

void video_size(const Video& v, int& width, int& height) {
  width = v.width;
  height = v.height;
}

bool next_video_frame(Video& v, const std::uint8_t*& rgba, double& seconds) {
  for (;;) {
    int code = avcodec_receive_frame(v.codec, v.frame);
    if (code == 0) {
      bool ok = convert_frame(v);
      std::int64_t pts = v.frame->best_effort_timestamp;
      seconds = pts == AV_NOPTS_VALUE ? 0 : pts * v.time_base;
      av_frame_unref(v.frame);
      if (!ok) return false;
      rgba = v.rgba.data();
      return true;
    }
    if (code != AVERROR(EAGAIN) || v.draining) return false;
    // The decoder wants more: the next packet of the stream, or the end.
    for (;;) {
      code = av_read_frame(v.format, v.packet);
      if (code < 0) {
        v.draining = true;
        avcodec_send_packet(v.codec, nullptr);
        break;
      }
      bool ours = v.packet->stream_index == v.stream;
      if (ours) code = avcodec_send_packet(v.codec, v.packet);
      av_packet_unref(v.packet);
      if (ours) {
        if (code < 0 && code != AVERROR(EAGAIN)) return false;
        break;
      }
    }
  }
}

bool rewind_video(Video& v) {
  if (av_seek_frame(v.format, v.stream, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
      avformat_seek_file(v.format, -1, INT64_MIN, 0, 0, 0) < 0)
    return false;
  avcodec_flush_buffers(v.codec);
  v.draining = false;
  return true;
}

}  // namespace platform
