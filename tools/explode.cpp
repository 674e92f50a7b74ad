// The explode generator of run mode 8: a visual's 3DS model shattered into
// two-sided fragments that fly apart, one model file per frame, with the
// visual rewritten to play them; the behaviour comes from an ".exp" script
// edited in the script text editor.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/paths.h"
#include "media/media.h"
#include "platform/platform.h"
#include "project/project.h"
#include "tools/tools.h"
#include "ui/browser.h"
#include "ui/text_editor.h"

namespace tools {

namespace {

constexpr char kChooseTitle[] = "Select a visual to explode";
constexpr char kSaveAsPrompt[] = "Save current script as...";
constexpr char kSaveAsInitial[] = "myexp";
constexpr char kLoadQuestion[] = "Load script. Current script modifications will be lost!";
constexpr char kDone[] = "Exploding visual successfully generated!";
constexpr char kCurrentScript[] = "current.exp";
constexpr char kScriptMask[] = "*.exp";
constexpr int kStartVisualPath = 11;  // "curpaths.ini" line of the visual chosen last
constexpr int kInputWidth = 400;
constexpr int kMaxNameChars = 8;
constexpr std::size_t kMaxScriptBytes = 1 << 16;
constexpr std::size_t kMaxVisualBytes = 1 << 20;
constexpr std::int32_t kDensityBase = 50000;  // drag divisor = kDensityBase - "air density"

// The keys of an ".exp" script, each with the range it sets.
struct ScriptKey {
  const char* key;
  ExplodeRange ExplodeScript::*range;
};
constexpr ScriptKey kScriptKeys[] = {
    {"velocity", &ExplodeScript::velocity}, {"air density", &ExplodeScript::air_density},
    {"spin", &ExplodeScript::spin},         {"dummy", &ExplodeScript::dummy},
    {"gravity", &ExplodeScript::gravity},   {"x angle", &ExplodeScript::x_angle},
    {"z angle", &ExplodeScript::z_angle},   {"frames", &ExplodeScript::frames},
};

// A whole decimal integer in the 32-bit range, blanks around it allowed.
bool whole_number(std::string_view s, std::int32_t& out) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  if (s.empty() || s.size() > 10) return false;
  std::int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<std::int32_t>(v);
  return true;
}

std::int32_t clamp32(std::int64_t v) { return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX)); }

// (p, q) turned by angle with the table's Q15 sine and cosine; a step under one table entry is none.
void turn(std::int64_t& p, std::int64_t& q, std::int32_t angle) {
  if (angle / 64 == 0) return;
  std::int64_t s = media::table_sin(angle), c = media::table_cos(angle);
  std::int64_t p2 = (p * c - q * s) >> 15, q2 = (q * c + p * s) >> 15;
  p = p2, q = q2;
}

std::int64_t rounded_thousandths(float v) {
  double t = static_cast<double>(v) * 1000.0;
  return static_cast<std::int64_t>(std::llround(std::clamp(t, -2e9, 2e9)));
}

std::string three_digits(int k) {
  char s[16];
  std::snprintf(s, sizeof s, "%03d", k);
  return s;
}

std::string file_name_of(std::string_view path) {
  std::size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The first line of a text, without its CR LF.
std::string first_line_of(std::string_view text) {
  std::size_t end = text.find_first_of("\r\n");
  return std::string(text.substr(0, end));
}

std::string field_of(std::string_view line, int n) { return std::string(base::field(line, n, '|').view()); }

// ---- The tool's screens -------------------------------------------------------------------

struct Explode {
  ui::Task& task;
  ui::Kit& kit;
  ui::TextEditor& editor;
  std::string current;  // data folder + "current.exp"
  std::string brains;   // work folder + "brains/"
};

bool open_script(Explode& x) {
  ui::EditorOpen opened = x.editor.open(x.current, ui::EditorMode::edit);
  if (opened.ok) return true;
  ui::message_panel(x.kit, opened.error, " OK ", "");
  return false;
}

// The editor's text into the current script, when it was changed.
bool keep_script(Explode& x) {
  if (!x.editor.modified()) return true;  // a missing script stays missing: the defaults
  std::string failure;
  if (!x.editor.save(x.current, &failure)) {
    ui::message_panel(x.kit, "The script could not be saved as " + x.current + ":|" + failure, " OK ", "");
    return false;
  }
  x.editor.mark_saved();
  return true;
}

// F2: the script copied under a name asked for in the brains folder.
void save_script_as(Explode& x) {
  std::string typed = ui::input_box(x.kit, kInputWidth, kSaveAsInitial, kSaveAsPrompt);
  std::string name = explode_script_name(typed);
  if (name.empty()) return;
  std::string path = x.brains + name + ".exp";
  if (base::file_kind(path) != base::FileKind::missing &&
      ui::message_panel(x.kit, "Using the name '" + name + "' you will overwrite an existing script", " CONTINUE ",
                        " ABORT ") != 1)
    return;
  if (!keep_script(x)) return;
  std::string failure;
  if (!x.editor.save(path, &failure))
    ui::message_panel(x.kit, "The script could not be saved as '" + name + "':|" + failure, " OK ", "");
}

// F1: a saved script chosen from the brains folder over the current one.
void load_script(Explode& x) {
  if (ui::message_panel(x.kit, kLoadQuestion, " CONTINUE ", " ABORT ") != 1) return;
  ui::BrowseFolders folders = ui::browse_folders(x.task);
  std::string chosen = ui::list_browser(x.kit, folders, x.brains, kScriptMask);
  if (chosen.empty()) return;
  ui::EditorOpen opened = x.editor.open(chosen, ui::EditorMode::edit);
  if (!opened.ok) {
    ui::message_panel(x.kit, opened.error, " OK ", "");
    open_script(x);
    return;
  }
  std::string failure;
  if (!x.editor.save(x.current, &failure))
    ui::message_panel(x.kit, "The script could not be saved as " + x.current + ":|" + failure, " OK ", "");
  x.editor.mark_saved();
}

// The script editor until Escape; false when the current script could not be kept.
bool edit_script(Explode& x) {
  if (!open_script(x)) return false;
  for (;;) {
    switch (x.editor.run(x.kit)) {
      case ui::EditorExit::f2: save_script_as(x); break;
      case ui::EditorExit::f1: load_script(x); break;
      case ui::EditorExit::ctrl_h: break;
      case ui::EditorExit::escape: return keep_script(x);
    }
  }
}

}  // namespace

// ---- The script ---------------------------------------------------------------------------

bool parse_explode_script(std::string_view text, ExplodeScript& script, std::string* why) {
  script = ExplodeScript{};
  int line_number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    base::Text key = base::lower(base::trim(line.substr(0, equals)).view());
    const ScriptKey* known = nullptr;
    for (const ScriptKey& k : kScriptKeys)
      if (key.view() == k.key) known = &k;
    if (!known) continue;
    std::string_view value = line.substr(equals + 1);
    std::size_t slash = value.find('/');
    ExplodeRange r;
    if (slash == std::string_view::npos || !whole_number(value.substr(0, slash), r.low) ||
        !whole_number(value.substr(slash + 1), r.high)) {
      if (why)
        *why = "line " + std::to_string(line_number) + ": \"" + std::string(known->key) +
               "\" wants two whole numbers, low/high";
      return false;
    }
    script.*(known->range) = r;
  }
  const ExplodeRange& f = script.frames;
  if (f.low < 1 || f.high > kMaxExplodeFrames || f.low > f.high) {
    if (why) *why = "\"frames\" must run from 1 to " + std::to_string(kMaxExplodeFrames) + ", the first not after the last";
    return false;
  }
  if (why) why->clear();
  return true;
}

std::string explode_script_name(std::string_view typed) {
  typed = typed.substr(0, typed.find('.'));
  std::string name;
  for (char c : typed)
    if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) && name.size() < kMaxNameChars)
      name += c;
  return name;
}

// ---- The fragments ------------------------------------------------------------------------

std::vector<Fragment> draw_fragments(const ExplodeScript& script, std::size_t count, const RandomBetween& random) {
  std::vector<Fragment> out(count);
  auto draw = [&](const ExplodeRange& r) { return random(r.low, r.high); };
  for (Fragment& f : out) {
    std::int64_t s = draw(script.velocity);
    std::int32_t a = media::normalise_angle(draw(script.x_angle));
    std::int32_t b = media::normalise_angle(draw(script.z_angle));
    std::int64_t v[3] = {0, s, 0};
    if (b / 64 != 0) {
      v[0] = -(s * media::table_sin(b)) >> 15;
      v[1] = (s * media::table_cos(b)) >> 15;
      v[2] = 0;
    }
    if (a / 64 != 0) {
      std::int64_t y1 = v[1];
      v[1] = (y1 * media::table_cos(a)) >> 15;
      v[2] = (y1 * media::table_sin(a)) >> 15;
    }
    for (int axis = 0; axis < 3; ++axis) f.velocity[axis] = clamp32(v[axis]);
    for (std::int32_t& spin : f.spin) spin = draw(script.spin);
    // An air density of 50000 or more leaves no divisor: the strongest drag there is.
    f.divisor = std::max<std::int32_t>(1, clamp32(kDensityBase - static_cast<std::int64_t>(draw(script.air_density))));
    f.gravity = draw(script.gravity);
  }
  return out;
}

void move_fragments(std::vector<media::Triangle3ds>& triangles, std::vector<Fragment>& fragments) {
  std::size_t n = std::min(triangles.size(), fragments.size());
  for (std::size_t t = 0; t < n; ++t) {
    media::Triangle3ds& tri = triangles[t];
    Fragment& f = fragments[t];
    std::int64_t corner[3][3], centre[3] = {};
    for (int k = 0; k < 3; ++k)
      for (int axis = 0; axis < 3; ++axis) corner[k][axis] = rounded_thousandths(tri.corner[k][axis]);
    for (int axis = 0; axis < 3; ++axis) centre[axis] = (corner[0][axis] + corner[1][axis] + corner[2][axis]) / 3;
    // The fragment's up (y) moves the file's z, its z the file's y.
    const std::int64_t motion[3] = {f.velocity[0], f.velocity[2], f.velocity[1]};
    for (int k = 0; k < 3; ++k) {
      std::int64_t x = corner[k][0] - centre[0], y = corner[k][1] - centre[1], z = corner[k][2] - centre[2];
      turn(x, y, f.spin[1]);
      turn(x, z, f.spin[2]);
      turn(z, y, f.spin[0]);
      const std::int64_t moved[3] = {x, y, z};
      for (int axis = 0; axis < 3; ++axis)
        tri.corner[k][axis] = static_cast<float>(static_cast<double>(moved[axis] + centre[axis] + motion[axis]) / 1000.0);
    }
    for (int axis = 0; axis < 3; ++axis) {
      std::int64_t v = f.velocity[axis];
      v -= v * (v < 0 ? -v : v) / f.divisor;
      if (axis == 1) v += f.gravity;
      f.velocity[axis] = clamp32(v);
    }
  }
}

std::string frame_file(std::string_view model_path, int frame) {
  std::string_view stem = model_path.substr(0, model_path.size() >= 4 ? model_path.size() - 4 : 0);
  return std::string(stem) + three_digits(frame) + ".3ds";
}

ExplodeOutcome explode_mesh(std::string_view model_path, const ExplodeScript& script, const RandomBetween& random) {
  ExplodeOutcome r;
  std::string bytes;
  if (!base::read_regular_file(model_path, media::kMax3dsBytes + 1, bytes)) {
    r.message = "The model " + std::string(model_path) + " could not be read.|Nothing was written.";
    return r;
  }
  if (bytes.size() > media::kMax3dsBytes) {
    r.message = "The model " + std::string(model_path) + " is too large to explode.|Nothing was written.";
    return r;
  }
  std::vector<media::Triangle3ds> triangles;
  std::string why;
  switch (media::read_3ds_triangles(std::as_bytes(std::span(bytes.data(), bytes.size())), triangles, why)) {
    case media::Read3ds::ok: break;
    case media::Read3ds::not_3ds:
      r.message = "The model " + std::string(model_path) + " is not a 3DS file.|Nothing was written.";
      return r;
    case media::Read3ds::damaged:
      r.message = "The model " + std::string(model_path) + " is damaged:|" + why + ".|Nothing was written.";
      return r;
  }
  std::vector<Fragment> fragments = draw_fragments(script, triangles.size(), random);
  for (int f = script.frames.low; f <= script.frames.high; ++f) {
    std::vector<std::byte> file = media::write_fragment_3ds(triangles);
    base::TextFile out;
    std::string path = frame_file(model_path, f);
    if (out.open_write_atomic(path) && out.write_bytes(file.data(), file.size()) && out.close()) {
      ++r.frames_written;
    } else {
      out.discard();
      if (r.frames_failed++ == 0) r.first_failed = path;
    }
    move_fragments(triangles, fragments);
  }
  r.ok = r.frames_failed == 0;
  if (!r.ok)
    r.message = std::to_string(r.frames_failed) + " frame file" + (r.frames_failed == 1 ? "" : "s") +
                " could not be written, the first " + r.first_failed + ".|The visual was not rewritten.";
  return r;
}

std::string exploded_visual(std::string_view first_line, const ExplodeRange& frames, std::string* why) {
  std::string model(base::replace_all(field_of(first_line, 3), "\\", "/").view());
  std::string stem = model.substr(0, model.size() >= 4 ? model.size() - 4 : 0);
  bool second_model = base::value(field_of(first_line, 31)) != 0;
  std::string out = std::string(first_line) + "\r\n";
  // Line k plays frame file first + k - 1, so the lines match the files written from any first frame.
  for (int k = 2; k <= frames.high - frames.low + 1; ++k) {
    std::string frame = stem + three_digits(frames.low + k - 1) + ".3ds";
    base::Text line = base::replace_field(first_line, 1, std::to_string(k), '|');
    if (second_model) {
      line = base::replace_field(line.view(), 3, stem + three_digits(frames.low) + ".3ds", '|');
      line = base::replace_field(line.view(), 30, frame, '|');
    } else {
      line = base::replace_field(line.view(), 3, frame, '|');
    }
    if (line.too_long()) {
      if (why) *why = "its frame lines would be longer than " + std::to_string(base::kTextCapacity) + " characters";
      return "";
    }
    out += std::string(line.view()) + "\r\n";
  }
  if (why) why->clear();
  return out;
}

bool explode_visual(std::string_view visual_path, std::string_view work_folder, std::string_view script_path,
                    const RandomBetween& random, std::string* message) {
  auto fail = [&](std::string text) {
    if (message) *message = std::move(text);
    return false;
  };
  std::string visual;
  if (!base::read_regular_file(visual_path, kMaxVisualBytes, visual))
    return fail("The visual " + std::string(visual_path) + " could not be read.|Nothing was written.");
  std::string first = first_line_of(visual);
  std::string model(base::replace_all(field_of(first, 3), "\\", "/").view());
  if (model.empty()) return fail("The visual " + std::string(visual_path) + " names no model.|Nothing was written.");
  if (model.starts_with("./")) model.erase(0, 2);
  std::string model_path(base::normal_path(model, work_folder).view());

  std::string script_text, why;
  if (base::file_kind(script_path) != base::FileKind::missing &&
      !base::read_regular_file(script_path, kMaxScriptBytes, script_text))
    return fail("The explode script " + std::string(script_path) + " could not be read.|Nothing was written.");
  ExplodeScript script;
  if (!parse_explode_script(script_text, script, &why))
    return fail("The explode script is damaged:|" + why + ".|Nothing was written.");
  std::string rewritten = exploded_visual(first, script.frames, &why);
  if (rewritten.empty()) return fail("The visual cannot be rewritten: " + why + ".|Nothing was written.");

  ExplodeOutcome outcome = explode_mesh(model_path, script, random);
  if (!outcome.ok) return fail(outcome.message);
  base::TextFile out;
  if (!out.open_write_atomic(visual_path) || !out.print(rewritten) || !out.close()) {
    out.discard();
    return fail("The visual " + std::string(visual_path) + " could not be rewritten.");
  }
  if (message) *message = kDone;
  return true;
}

// ---- Run mode 8 ---------------------------------------------------------------------------

bool explode_generator(ui::Task& task, int) {
  project::Host& host = *task.host;
  auto kit = std::make_unique<ui::Kit>();
  ui::init_kit(*kit, task.screen, *task.font, task.skin);
  ui::BrowseFolders folders = ui::browse_folders(task);
  std::string start = task.state ? std::string(task.state->current_path[kStartVisualPath - 1].view()) : "";
  if (start.empty()) start = std::string(host.work_folder.view()) + "visuals/default_.v3d";

  // 1. The visual.
  std::string visual = ui::thumbnail_chooser(*kit, folders, start, ui::kChooseVisuals, kChooseTitle);
  if (visual.empty()) return false;

  // 2. The script, edited until Escape.
  auto font = std::make_unique<media::Font>();
  bool font_loaded = media::load_font(std::string(host.data_folder.view()) + ui::kEditorFontFile, *font, true);
  auto editor = std::make_unique<ui::TextEditor>();
  editor->set_font(font_loaded ? font.get() : nullptr);
  Explode x{task, *kit, *editor, std::string(host.data_folder.view()) + kCurrentScript,
            std::string(host.work_folder.view()) + "brains/"};
  if (!edit_script(x)) return false;

  // 3. The last word before the visual is overwritten; ABORT leaves every file as it was.
  if (ui::message_panel(*kit, "WARNING!|Selected visual (" + file_name_of(visual) + ") will be overwritten!", " ABORT ",
                        " CONTINUE ") != 2)
    return false;
  if (task.state) task.state->current_path[kStartVisualPath - 1] = std::string_view(visual);

  // 4 and 5. The frames, then the visual.
  media::RandomState state;
  const std::uint32_t samples = platform::input().sample_count;
  RandomBetween random = [&](std::int32_t lo, std::int32_t hi) { return media::random_in(state, lo, hi, samples); };
  std::string message;
  explode_visual(visual, host.work_folder.view(), x.current, random, &message);
  ui::message_panel(*kit, message, " OK ", "");
  return true;
}

}  // namespace tools
