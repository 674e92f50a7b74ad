// Test clips: small MJPEG ".avi" files of solid-colour frames, made with FFmpeg.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <string>
#include <vector>

namespace video_test {

struct Rgb {
  int r, g, b;
};

// Writes an MJPEG ".avi" of 32 x 24 frames at 10 per second, one solid colour each.
inline bool write_clip(const std::string& path, const std::vector<Rgb>& colours) {
  AVFormatContext* out = nullptr;
  if (avformat_alloc_output_context2(&out, nullptr, nullptr, path.c_str()) < 0) return false;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  AVStream* st = codec ? avformat_new_stream(out, nullptr) : nullptr;
  AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
  bool ok = st && c;
  if (ok) {
    c->width = 32, c->height = 24, c->time_base = {1, 10}, c->framerate = {10, 1};
    c->pix_fmt = AV_PIX_FMT_YUVJ420P;
    ok = avcodec_open2(c, codec, nullptr) >= 0 && avcodec_parameters_from_context(st->codecpar, c) >= 0;
    st->time_base = c->time_base;
  }
  ok = ok && avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
  AVFrame* f = av_frame_alloc();
  AVPacket* p = av_packet_alloc();
  SwsContext* sws = sws_getContext(32, 24, AV_PIX_FMT_RGB24, 32, 24, AV_PIX_FMT_YUVJ420P, SWS_BILINEAR, nullptr,
                                   nullptr, nullptr);
  if (ok) {
    f->format = c->pix_fmt, f->width = 32, f->height = 24;
    ok = av_frame_get_buffer(f, 0) >= 0;
  }
  auto drain = [&] {
    while (avcodec_receive_packet(c, p) == 0) {
      av_packet_rescale_ts(p, c->time_base, st->time_base);
      p->stream_index = st->index;
      av_interleaved_write_frame(out, p);
    }
  };
  std::vector<std::uint8_t> rgb(32 * 24 * 3);
  for (std::size_t i = 0; ok && i < colours.size(); ++i) {
    for (std::size_t k = 0; k < rgb.size(); k += 3)
      rgb[k] = colours[i].r, rgb[k + 1] = colours[i].g, rgb[k + 2] = colours[i].b;
    const std::uint8_t* src[1] = {rgb.data()};
    int stride[1] = {32 * 3};
    ok = av_frame_make_writable(f) >= 0;
    sws_scale(sws, src, stride, 0, 24, f->data, f->linesize);
    f->pts = static_cast<std::int64_t>(i);
    ok = ok && avcodec_send_frame(c, f) >= 0;
    drain();
  }
  if (ok) {
    avcodec_send_frame(c, nullptr);
    drain();
    ok = av_write_trailer(out) >= 0;
  }
  sws_freeContext(sws);
  av_packet_free(&p);
  av_frame_free(&f);
  avcodec_free_context(&c);
  if (out && out->pb) avio_closep(&out->pb);
  avformat_free_context(out);
  return ok;
}

}  // namespace video_test
