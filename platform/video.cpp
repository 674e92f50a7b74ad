// Video files through FFmpeg: demuxing, decoding and conversion to RGBA.
// Everything a frame needs is allocated when the file opens. FFmpeg is loaded
// on first use, so that a program without it runs (and plays no video).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/scramble.h"
#include "platform/libraries.h"
#include "platform/platform.h"

#define ZEPTA_STRING(x) ZEPTA_STRING_(x)
#define ZEPTA_STRING_(x) #x

namespace platform {

namespace {

// The libraries, each needed by the ones after it; sonames from the headers built against.
const char* const kVideoLibraries[] = {
    "libavutil.so." ZEPTA_STRING(LIBAVUTIL_VERSION_MAJOR),
    "libswscale.so." ZEPTA_STRING(LIBSWSCALE_VERSION_MAJOR),
    "libavcodec.so." ZEPTA_STRING(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." ZEPTA_STRING(LIBAVFORMAT_VERSION_MAJOR),
};
enum VideoLibrary { kAvutil, kSwscale, kAvcodec, kAvformat };

// Every FFmpeg function used, with the library that has it.
#define ZEPTA_VIDEO_CALLS(X)                                                                                  \
  X(kAvutil, av_strerror) X(kAvutil, av_log_set_level) X(kAvutil, av_frame_alloc) X(kAvutil, av_frame_free) X(kAvutil, av_frame_unref)      \
  X(kSwscale, sws_getCachedContext) X(kSwscale, sws_scale) X(kSwscale, sws_freeContext)                       \
  X(kAvcodec, avcodec_alloc_context3) X(kAvcodec, avcodec_parameters_to_context) X(kAvcodec, avcodec_open2)   \
  X(kAvcodec, avcodec_free_context) X(kAvcodec, avcodec_receive_frame) X(kAvcodec, avcodec_send_packet)       \
  X(kAvcodec, avcodec_flush_buffers) X(kAvcodec, av_packet_alloc) X(kAvcodec, av_packet_free)                 \
  X(kAvcodec, av_packet_unref) X(kAvformat, avformat_open_input) X(kAvformat, avformat_find_stream_info)       \
  X(kAvformat, av_find_best_stream) X(kAvformat, avformat_close_input) X(kAvformat, av_read_frame)             \
  X(kAvformat, av_seek_frame) X(kAvformat, avformat_seek_file)

struct VideoCalls {
#define ZEPTA_MEMBER(library, name) decltype(&::name) name = nullptr;
  ZEPTA_VIDEO_CALLS(ZEPTA_MEMBER)
#undef ZEPTA_MEMBER
};

VideoCalls calls;
int loaded = 0;  // 0 not tried, 1 loaded, -1 missing (reported)

// Loads FFmpeg the first time; false (reported once) when it is not there.
bool load_video_library() {
  if (loaded) return loaded > 0;
  loaded = -1;
  void* handles[std::size(kVideoLibraries)] = {};
  for (std::size_t i = 0; i < std::size(kVideoLibraries); ++i) {
    std::string why;
    handles[i] = open_library(kVideoLibraries[i], why);
    if (!handles[i]) {
      base::report("platform", "the video library (%s) is not installed, videos are not shown: %s",
                   kVideoLibraries[i], why.c_str());
      return false;
    }
  }
  bool all = true;
#define ZEPTA_RESOLVE(library, name) all = resolve(handles[library], #name, calls.name) && all;
  ZEPTA_VIDEO_CALLS(ZEPTA_RESOLVE)
#undef ZEPTA_RESOLVE
  if (!all) {
    base::report("platform", "the video library (%s) lacks functions this program uses, videos are not shown",
                 kVideoLibraries[kAvformat]);
    calls = {};
    return false;
  }
  // The library's own warnings (a damaged frame it mends, a deprecated pixel
  // format) are not the player's business; errors still reach stderr.
  calls.av_log_set_level(AV_LOG_ERROR);
  loaded = 1;
  return true;
}

}  // namespace

bool video_library_available() { return load_video_library(); }

std::span<const char* const> video_library_names() { return kVideoLibraries; }

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
  calls.av_strerror(code, text, sizeof text);
  return text;
}

// The decoded frame into video.rgba; false when the frame's size changed (not supported).
bool convert_frame(Video& v) {
  if (v.frame->width != v.width || v.frame->height != v.height) return false;
  v.convert = calls.sws_getCachedContext(v.convert, v.width, v.height, static_cast<AVPixelFormat>(v.frame->format),
                                   v.width, v.height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!v.convert) return false;
  std::uint8_t* planes[4] = {v.rgba.data(), nullptr, nullptr, nullptr};
  int strides[4] = {v.width * 4, 0, 0, 0};
  calls.sws_scale(v.convert, v.frame->data, v.frame->linesize, 0, v.height, planes, strides);
  return true;
}

}  // namespace

Video* open_video(std::string_view path, std::string& error) {
  if (!load_video_library()) {
    error = std::string("the video library (") + kVideoLibraries[kAvformat] + ") is not installed";
    return nullptr;
  }
  auto v = std::make_unique<Video>();
  // FFmpeg opens the path itself: a scrambled file of a package is read from a plain copy.
  std::string name(path);
  std::FILE* plain = nullptr;
  if (base::package_view_scrambled(path)) {
    plain = base::open_plain_copy(path);
    if (!plain) {
      error = "unreadable file";
      return nullptr;
    }
    name = "/proc/self/fd/" + std::to_string(fileno(plain));
  }
  int code = calls.avformat_open_input(&v->format, name.c_str(), nullptr, nullptr);
  if (plain) std::fclose(plain);  // FFmpeg holds its own descriptor
  if (code < 0) {
    error = reason(code);
    return nullptr;
  }
  auto fail = [&](std::string why) -> Video* {
    error = std::move(why);
    close_video(v.release());
    return nullptr;
  };
  if ((code = calls.avformat_find_stream_info(v->format, nullptr)) < 0) return fail(reason(code));
  const AVCodec* decoder = nullptr;
  v->stream = calls.av_find_best_stream(v->format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (v->stream < 0 || !decoder) return fail("no video stream");
  AVStream* st = v->format->streams[v->stream];
  v->codec = calls.avcodec_alloc_context3(decoder);
  if (!v->codec) return fail("out of memory");
  if ((code = calls.avcodec_parameters_to_context(v->codec, st->codecpar)) < 0) return fail(reason(code));
  if ((code = calls.avcodec_open2(v->codec, decoder, nullptr)) < 0) return fail(reason(code));
  v->width = v->codec->width;
  v->height = v->codec->height;
  if (v->width <= 0 || v->height <= 0 || v->width > kMaxVideoSide || v->height > kMaxVideoSide)
    return fail("unsupported frame size");
  v->time_base = av_q2d(st->time_base);
  v->packet = calls.av_packet_alloc();
  v->frame = calls.av_frame_alloc();
  if (!v->packet || !v->frame) return fail("out of memory");
  v->rgba.assign(static_cast<std::size_t>(v->width) * v->height * 4, 0);
  return v.release();
}

void close_video(Video* v) {
  if (!v) return;
  calls.sws_freeContext(v->convert);
  calls.av_frame_free(&v->frame);
  calls.av_packet_free(&v->packet);
  calls.avcodec_free_context(&v->codec);
  calls.avformat_close_input(&v->format);
  delete v;
}

void video_size(const Video& v, int& width, int& height) {
  width = v.width;
  height = v.height;
}

bool next_video_frame(Video& v, const std::uint8_t*& rgba, double& seconds) {
  for (;;) {
    int code = calls.avcodec_receive_frame(v.codec, v.frame);
    if (code == 0) {
      bool ok = convert_frame(v);
      std::int64_t pts = v.frame->best_effort_timestamp;
      seconds = pts == AV_NOPTS_VALUE ? 0 : pts * v.time_base;
      calls.av_frame_unref(v.frame);
      if (!ok) return false;
      rgba = v.rgba.data();
      return true;
    }
    if (code != AVERROR(EAGAIN) || v.draining) return false;
    // The decoder wants more: the next packet of the stream, or the end.
    for (;;) {
      code = calls.av_read_frame(v.format, v.packet);
      if (code < 0) {
        v.draining = true;
        calls.avcodec_send_packet(v.codec, nullptr);
        break;
      }
      bool ours = v.packet->stream_index == v.stream;
      if (ours) code = calls.avcodec_send_packet(v.codec, v.packet);
      calls.av_packet_unref(v.packet);
      if (ours) {
        if (code < 0 && code != AVERROR(EAGAIN)) return false;
        break;
      }
    }
  }
}

bool rewind_video(Video& v) {
  if (calls.av_seek_frame(v.format, v.stream, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
      calls.avformat_seek_file(v.format, -1, INT64_MIN, 0, 0, 0) < 0)
    return false;
  calls.avcodec_flush_buffers(v.codec);
  v.draining = false;
  return true;
}

}  // namespace platform
