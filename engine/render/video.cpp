// The video window: `play` shows a clip and waits, `play_task` starts one that
// the render step keeps moving, `play_set` places the window, `stop_task`
// closes it. Frames are paced by the timer, so a clip keeps its speed however
// often the window is drawn.
#include <algorithm>

#include "engine/render/render.h"
#include "engine/engine_local.h"
#include "platform/platform.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"

namespace engine {

namespace {

double seconds_since(std::uint32_t from, std::uint32_t now) {
  return static_cast<std::int32_t>(now - from) / static_cast<double>(kTimerRate);
}

// Opens name in the window (closing what was there); false when it can't be played.
bool open_clip(World& w, std::int32_t name) {
  base::Text path = brain_file(w, text_argument(name));  // inside the game's folders
  if (path.empty() || base::file_kind(path) != base::FileKind::regular) return false;
  close_video_window(w);
  std::string error;
  VideoWindow& v = w.video;
  v.video = platform::open_video(path, error);
  if (!v.video) {
    // Without the video library the platform has said so once: no line per clip.
    if (platform::video_library_available()) base::report("engine", "video %s: %s", path.c_str(), error.c_str());
    return false;
  }
  platform::video_size(*v.video, v.frame_width, v.frame_height);
  v.playing = true;
  v.plays_left = std::max(1, v.plays);
  v.started = platform::timer();
  v.pixels.assign(static_cast<std::size_t>(v.frame_width) * v.frame_height * 4, 0);
  v.shown = false;
  v.next_frame = nullptr;
  v.interval = 0;
  if (!platform::next_video_frame(*v.video, v.next_frame, v.next_time)) v.playing = false;
  return true;
}

ROUTINE(routine_play_set) {
  if (World* w = active_world()) {
    VideoWindow& v = w->video;
    v.x = a, v.y = b, v.width = c, v.height = d, v.plays = e;
  }
  return 0;
}

ROUTINE(routine_play_task) {
  if (World* w = active_world()) open_clip(*w, a);
  return 0;
}

// Plays the clip through (all its plays) unless an input arrives first.
ROUTINE(routine_play) {
  World* w = active_world();
  if (!w || !open_clip(*w, a)) return 0;
  platform::flush_input();
  while (w->video.playing) {
    platform::sample_input();
    if (platform::any_input_down(platform::input()) || platform::waiting_gives_up()) break;
    std::uint32_t now = platform::timer();
    advance_video(*w, now);
    render_step(*w);
    // Sleep until the next frame is due, but look at the input at least every 20 ms.
    double wait = w->video.next_time - seconds_since(w->video.started, now);
    platform::sleep_ms(std::clamp(static_cast<int>(wait * 1000), 1, 20));
  }
  close_video_window(*w);
  if (World* again = active_world()) start_clock(again->clock, platform::timer());
  return 0;
}

ROUTINE(routine_play_task_status) {
  World* w = active_world();
  return w && w->video.playing ? -1 : 0;
}

ROUTINE(routine_stop_task) {
  if (World* w = active_world()) close_video_window(*w);
  return 0;
}

constexpr Binding kBindings[] = {
    {"play_set", routine_play_set, "a x, b y, c width, d height screen pixels, e plays: the video window"},
    {"play", routine_play, "a file text: plays the video in its window until its plays end or any input comes"},
    {"play_task", routine_play_task, "a file text: starts the video in its window and goes on"},
    {"play_task_status", routine_play_task_status, "-> -1 while the video window plays, else 0"},
    {"stop_task", routine_stop_task, "closes the video window"},
};

}  // namespace

std::span<const Binding> video_bindings() { return kBindings; }

void advance_video(World& w, std::uint32_t now) {
  VideoWindow& v = w.video;
  if (!v.video || !v.playing) return;
  double t = seconds_since(v.started, now);
  while (v.playing && v.next_frame && v.next_time <= t) {
    std::copy(v.next_frame, v.next_frame + v.pixels.size(), v.pixels.begin());
    v.shown = true;
    double shown_time = v.next_time;
    if (platform::next_video_frame(*v.video, v.next_frame, v.next_time)) {
      v.interval = std::max(0.0, v.next_time - shown_time);
      continue;
    }
    // The end of one play: the next starts once the last frame has had its time;
    // after the last play the clip stays on its last frame.
    v.next_frame = nullptr;
    if (--v.plays_left > 0 && platform::rewind_video(*v.video) &&
        platform::next_video_frame(*v.video, v.next_frame, v.next_time)) {
      v.started += static_cast<std::uint32_t>((shown_time + v.interval) * kTimerRate + 0.5);
      t = seconds_since(v.started, now);
    } else {
      v.playing = false;
    }
  }
}

void close_video_window(World& w) {
  VideoWindow& v = w.video;
  platform::close_video(v.video);
  v.video = nullptr;
  v.next_frame = nullptr;
  v.shown = false;
  v.playing = false;
}

}  // namespace engine
