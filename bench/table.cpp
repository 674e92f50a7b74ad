// The rows of bench/run.sh's table that have no Lua counterpart: a full
// headless tick of 256 elements, start-up of the program to its first drawn
// frame, rendering beside direct OpenGL, the peak memory of a demo run, the
// polygon-level collision test of a moving box against a large mesh, and one
// key typed into a 5,000-line brain in the text editor.
// Run from the working folder (build-bench/work) with ZEPTA_TEST_DATA set and
// the zepta program as the argument; SDL_VIDEODRIVER=offscreen without a display.
#include <fcntl.h>
#include <unistd.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/poly_scene.h"
#include "bench/poly_workload.h"
#include "bench/scenes.h"
#include "bench/setup.h"
#include "bench/workloads.h"
#include "media/media.h"
#include "net/codec.h"
#include "net/session.h"
#include "platform/net.h"
#include "ui/text_editor.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Fastest of rounds runs of f, in seconds: the machine may be busy.
template <typename F>
double fastest(int rounds, F&& f) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    Clock::time_point start = Clock::now();
    f();
    best = std::min(best, seconds_since(start));
  }
  return best;
}

void row(const char* measure, const std::string& zepta, const char* beside, const std::string& figure,
         const std::string& ratio) {
  std::printf("| %s | %s | %s | %s | %s |\n", measure, zepta.c_str(), beside, figure.c_str(), ratio.c_str());
  std::fflush(stdout);
}

std::string fixed(double v, int digits, const char* unit = "") {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f%s", digits, v, unit);
  return text;
}

// ---- 3: one engine tick of 256 elements ------------------------------------------------------

// A run of 256 elements, each with the motion brain; false when it did not compile.
bool start_motion_run(engine::World& world, brain::Program& program) {
  engine::begin_run(world);
  std::vector<brain::BrainSource> sources(project::kMaxElements, brain::BrainSource{"e", "motion.brn"});
  brain::CompileOptions options;
  options.read = [](void*, std::string_view, std::string& bytes) {
    bytes = bench::kMotionBrain;
    return true;
  };
  if (!brain::compile_project(sources, options, program)) return false;
  world.program = &program;
  world.highest = project::kMaxElements - 1;
  return true;
}

// Microseconds per engine::tick: scripted (empty) input, the collision pass over
// all 32,640 declared pairs, the motion brain on every element.
struct TickParts {
  double input = 0, collisions = 0, brains = 0;  // microseconds
  int contacts = 0;
};
double tick_us(TickParts& parts) {
  auto world = std::make_unique<engine::World>();
  auto program = std::make_unique<brain::Program>();
  if (!start_motion_run(*world, *program)) return -1;
  std::uint8_t* matrix = world->tables.collision;
  std::memset(matrix, 0, project::kCollisionBytes);
  for (int i = 0; i < project::kMaxElements; ++i)
    for (int j = i + 1; j < project::kMaxElements; ++j) matrix[i * project::kMaxElements + j] = 1 + (i + j) % 11;
  bench::place_collision_grid(world->tables.elements);
  platform::set_script({});
  engine::collision_setup(*world);
  constexpr int kTicks = 200;
  double s = fastest(7, [&] {
    for (int t = 0; t < kTicks; ++t) engine::tick(*world);
  });
  // Its parts, after those ticks (the brains have moved the elements).
  parts.input = fastest(7, [&] {
                  for (int t = 0; t < kTicks; ++t) platform::sample_input(false);
                }) * 1e6 / kTicks;
  parts.collisions = fastest(7, [&] {
                       for (int t = 0; t < kTicks; ++t) engine::collision_pass(*world);
                     }) * 1e6 / kTicks;
  parts.brains = fastest(7, [&] {
                   for (int t = 0; t < kTicks; ++t) engine::brain_pass(*world);
                 }) * 1e6 / kTicks;
  parts.contacts = world->collisions.touched_count;
  engine::end_run(*world);
  return s * 1e6 / kTicks;
}

// ---- networked play ----------------------------------------------------------------------------

// 32 of the 256 elements replicated (positions and rotations with their
// changes): this machine (machine 1, hosting) owns 8, the other 24 are copies
// steered towards a received state. Microseconds a brain pass costs more
// than the same pass alone, the send step included (its message built and
// queued on a loopback session); and the bytes of that state message.
struct NetFigures {
  double added_us = -1;          // a tick that sends nothing
  double added_sending_us = -1;  // a tick that sends a state message
  std::size_t message_bytes = 0;
};
NetFigures network_figures() {
  NetFigures f;
  auto world = std::make_unique<engine::World>();
  auto program = std::make_unique<brain::Program>();
  if (!start_motion_run(*world, *program)) return f;
  bench::place_collision_grid(world->tables.elements);
  constexpr int kReplicated = 32, kTicks = 200;
  for (int i = 0; i < kReplicated; ++i) {
    project::ElementRecord& r = world->tables.elements[i * 8];
    r.network_sync = 0x33;
    r.owner_machine = 1 + i % 4;
  }
  double alone = fastest(7, [&] {
                   for (int t = 0; t < kTicks; ++t) engine::brain_pass(*world);
                 }) * 1e6 / kTicks;
  platform::NetHostOptions host;
  host.bind_address = "127.0.0.1";
  platform::NetSession* session = platform::open_host(host);
  if (!session) return f;
  net::start_network(session);
  engine::Network& n = engine::network();
  n.machine_number = 1;
  engine::network_project_started(*world);
  for (int i = 0; i < engine::kWarmUpPasses; ++i) engine::brain_pass(*world);
  for (int i = 0; i < kReplicated; ++i) n.received[i * 8].pending = 0;
  double quiet = fastest(7, [&] {
                   for (int t = 0; t < kTicks; ++t) {
                     n.send_countdown = 2;  // no message: replication alone
                     engine::brain_pass(*world);
                   }
                 }) * 1e6 / kTicks;
  double sending = fastest(7, [&] {
                     for (int t = 0; t < kTicks; ++t) {
                       n.send_countdown = 0;  // a message every tick: the most the send step does
                       engine::brain_pass(*world);
                     }
                   }) * 1e6 / kTicks;
  f.added_us = quiet - alone;
  f.added_sending_us = sending - alone;
  // The message of one machine owning 8 of them, and of one owning all 32.
  net::ElementState states[kReplicated];
  for (int i = 0; i < kReplicated; ++i) states[i] = {static_cast<std::uint32_t>(i * 8), 0x33, {}, {}, {}, {}, 0, 0};
  std::uint8_t frame[net::kMaxFrameBytes];
  f.message_bytes = net::encode_state(frame, n.stamp, 1, {states, kReplicated}, false, {});
  net::stop_network();
  engine::end_run(*world);
  return f;
}

// ---- the polygon-level collision test ----------------------------------------------------------

// Microseconds per poly_collide of a 12-triangle box moving over a
// 10,000-triangle ground, averaged over its whole path; hits: the share of
// calls that found a contact.
double poly_collide_us(double& hits) {
  const bench::PolyWorkload w = bench::poly_workload();
  engine::PolyContact contact;
  int found = 0;
  double s = fastest(7, [&] {
    found = 0;
    for (const scene::Mat4& place : w.places) found += engine::poly_collide(w.ground, scene::Mat4{}, w.box, place, contact);
  });
  hits = static_cast<double>(found) / static_cast<double>(w.places.size());
  return s * 1e6 / static_cast<double>(w.places.size());
}

// Microseconds per `h_poly_collision` of a 12-triangle box element, moved by
// its record along the same path, against a 10,000-triangle ground element;
// -1 when the scene could not be made.
double poly_routine_us(double& hits) {
  bench::PolyScene scene;
  if (!scene.start()) return -1;
  constexpr int kPositions = 4096;
  int found = 0;
  double s = fastest(7, [&] {
    found = 0;
    for (int k = 0; k < kPositions; ++k) {
      scene.move_box(k, kPositions);
      found += scene.test() != 0;
    }
  });
  hits = static_cast<double>(found) / kPositions;
  return s * 1e6 / kPositions;
}

// ---- 4 and 6: the program itself ---------------------------------------------------------------

struct Child {
  double seconds = -1;
  long peak_kb = 0;
  int status = -1;
};

// Runs the program with args to its end: wall time and peak resident memory.
Child spawn(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Child c;
  Clock::time_point start = Clock::now();
  pid_t pid = 0;
  int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return c;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return c;
  c.seconds = seconds_since(start);
  c.peak_kb = usage.ru_maxrss;
  c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return c;
}

// ---- 5: rendering ------------------------------------------------------------------------------

struct Render {
  double demo_ms = -1, scene_ms = -1, direct_ms = -1, differing = 1;
};

Render render_figures() {
  Render out;
  char error[160] = {};
  scene::Renderer* r = scene::create_offscreen(bench::kWidth, bench::kHeight, error, sizeof error);
  if (!r) {
    std::fprintf(stderr, "table: %s\n", error);
    return out;
  }
  constexpr int kFrames = 40, kRounds = 7;
  {
    bench::Demo demo;
    if (demo.start(*r)) {
      engine::render_step(*demo.world);  // programs built, textures resident
      out.demo_ms = fastest(kRounds, [&] {
                      for (int f = 0; f < kFrames; ++f) {
                        engine::render_step(*demo.world);
                        bench::finish(*r);
                      }
                    }) * 1e3 / kFrames;
    }
  }
  {
    bench::Grid grid;
    bench::Reference reference;
    if (grid.start(*r)) {
      engine::render_step(*grid.world);
      std::vector<std::uint8_t> layer = bench::picture(*r);
      if (reference.start(*r, grid)) {
        reference.frame();
        out.differing = bench::differing(layer, bench::picture(*r));
        // Rounds of each in turn, so both see the same load on a busy machine.
        out.scene_ms = out.direct_ms = 1e30;
        for (int round = 0; round < kRounds; ++round) {
          Clock::time_point start = Clock::now();
          for (int f = 0; f < kFrames; ++f) {
            engine::render_step(*grid.world);
            bench::finish(*r);
          }
          out.scene_ms = std::min(out.scene_ms, seconds_since(start) * 1e3 / kFrames);
          start = Clock::now();
          for (int f = 0; f < kFrames; ++f) {
            reference.frame();
            bench::finish(*r);
          }
          out.direct_ms = std::min(out.direct_ms, seconds_since(start) * 1e3 / kFrames);
        }
      } else {
        std::fprintf(stderr, "table: %s\n", reference.error.c_str());
      }
    }
  }
  scene::destroy(r);
  return out;
}

// ---- 7: hostile brains --------------------------------------------------------------------------------

// Brains a stranger may ship, each as the demo's element 0: the slowest of
// their ticks, in milliseconds, with the demo scene up (so font_set and print
// work). A brain that spends its jump budget is stopped after its first tick.
std::string hostile_brain(int which) {
  auto repeated = [](const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += line + "\r\n";
    return text;
  };
  auto filled = [&](const char* v, int chars) {
    return std::string(v) + " = str_create(" + std::to_string(chars) + ")\r\nstr_chr(" + v + ", 65)\r\n" +
           repeated(std::string("str_add(") + v + ", " + v + ")", 24);
  };
  switch (which) {
    case 0: return "var x\r\nx = on_list(element, 0x7fffffff, 4194304)\r\n";
    case 1: return "var x\r\nagain:\r\nx = on_list(element, 0x7fffffff, 4194304)\r\nx = on_list(element, 1000000, 1)\r\ngoto again\r\n";
    case 2: return "var i\r\nloop:\r\ni = i + 1\r\nif i > 256\r\ni = 1\r\nendif\r\nfont_set(\"DejaVu Sans\", i, 400, 0)\r\ngoto loop\r\n";
    case 3: return "var i\r\nloop:\r\ni = i + 1\r\nif i > 256\r\ni = 1\r\nendif\r\nfont_set(\"DejaVu Serif\", -i, 700, i)\r\nprint(\"Hostile\", 10, 10, i)\r\ngoto loop\r\n";
    case 4: return "var x\r\n" + repeated("x = execute(element)", 10);
    case 5: return "var s\r\nvar x\r\n" + filled("s", 15999999) + "again:\r\nx = str_len(s)\r\ngoto again\r\n";
    case 6: return "var s\r\nvar t\r\n" + filled("s", 7999999) + "t = str_create(7999999)\r\n" + repeated("str_copy(t, s, 0, -1)", 2000);
    case 7: return "var s\r\nvar x\r\n" + filled("s", 15999999) + "again:\r\nmsg_box(s, 0, 0, 0)\r\nx = file_exists(s)\r\ngoto again\r\n";
    case 8: return "var x\r\nagain:\r\nx = file_exists(\"projects/demo/demo.prj\")\r\nglobals_load(\"projects/demo/demo.prj\", 0, 2047)\r\ngoto again\r\n";
    case 9: return "var h\r\nagain:\r\nh = str_create(8000000)\r\nstr_kill(h)\r\nh = str_create(4000000)\r\ngoto again\r\n";
    default: return "";
  }
}
constexpr int kHostileBrains = 10;

double worst_hostile_tick_ms() {
  char error[160] = {};
  scene::Renderer* r = scene::create_offscreen(bench::kWidth, bench::kHeight, error, sizeof error);
  if (!r) {
    std::fprintf(stderr, "table: %s\n", error);
    return -1;
  }
  double worst = 0;
  {
    bench::Demo demo;
    if (!demo.start(*r)) worst = -1;
    engine::World& w = *demo.world;
    // Boxes have no dialogs here: their echoes go to stderr, which the table does not need.
    int saved = dup(2);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    for (int which = 0; which < kHostileBrains && worst >= 0; ++which) {
      std::string text = hostile_brain(which);
      brain::BrainSource source{"hostile", "hostile.brn"};
      brain::CompileOptions options;
      options.read_context = &text;
      options.read = [](void* context, std::string_view, std::string& bytes) {
        bytes = *static_cast<std::string*>(context);
        return true;
      };
      std::span<std::byte> literals = base::area(base::Area::data_arena);
      std::byte* start = literals.data();
      options.literals = &literals;
      auto program = std::make_unique<brain::Program>();
      if (!brain::compile_project(std::span(&source, 1), options, *program)) {
        worst = -1;
        break;
      }
      w.program = program.get();
      w.literal_start = base::address32(start);
      w.literal_end = base::address32(literals.data());
      w.tables.elements[0].flags |= project::kFlagOn;
      w.tables.elements[0].flags &= ~project::kFlagBrainSuspended;
      w.brain_stopped[0] = false;
      double slowest = 0;
      for (int t = 0; t < 3; ++t) slowest = std::max(slowest, fastest(1, [&] { engine::brain_pass(w); }));
      // ZEPTA_BENCH_EACH=1 prints each brain's slowest tick too.
      if (std::getenv("ZEPTA_BENCH_EACH")) std::printf("hostile brain %d: %.1f ms\n", which, slowest * 1e3);
      worst = std::max(worst, slowest);
      w.program = nullptr;
      engine::render_step(w);
      std::fflush(stderr);
      // The next brain finds the handle heap empty.
      for (std::int32_t h = 0; h < engine::kHandles; ++h) brain::routine_of(brain::find_keyword("str_kill"))(h, 0, 0, 0, 0, 0);
    }
    dup2(saved, 2);
    close(saved);
    close(null);
  }
  scene::destroy(r);
  return worst * 1e3;
}

}  // namespace

// ---- one key typed into a 5,000-line brain ----------------------------------------------------

// Milliseconds per key typed into the middle of a brain of 5,000 lines (about
// 60 KB, within the editor's cap), with the redraw of the 80 x 40 grid that
// follows it; a character and a Backspace in turn keep the text's size. -1
// when the brain is refused.
double editor_key_ms(int& bytes) {
  const char* data = std::getenv("ZEPTA_TEST_DATA");
  auto font = std::make_unique<media::Font>();
  if (data) media::load_font(std::string(data) + "/" + ui::kEditorFontFile, *font, true);
  std::vector<std::byte> block(640 * 480);
  auto kit = std::make_unique<ui::Kit>();
  kit->screen = ui::make_screen(block, 640, 480);
  kit->font = font.get();
  auto editor = std::make_unique<ui::TextEditor>();
  editor->set_font(font.get());
  static const char* const kLines[] = {"if speed > 10", "  speed = 10", "endif", "x = x + speed"};
  std::string brain;
  for (int i = 0; i < 5000; ++i) brain += std::string(kLines[i % 4]) + "\r\n";
  if (!editor->open_text(brain, ui::EditorMode::edit).ok) return -1;
  bytes = static_cast<int>(editor->buffer().size());
  editor->go_to_line(2500);
  constexpr int kKeys = 400;
  double best = fastest(5, [&] {
    for (int k = 0; k < kKeys; ++k) {
      bool type = k % 2 == 0;
      editor->key(*kit, type ? 57 : 14, type ? 'a' : 0, 0, nullptr);  // a character, then Backspace
      editor->draw(*kit);
    }
  });
  return best * 1e3 / kKeys;
}

void editor_row() {
  int bytes = 0;
  double ms = editor_key_ms(bytes);
  char measure[160];
  std::snprintf(measure, sizeof measure,
                "one key typed into a 5,000-line brain (%d bytes) with the editor's redraw, ms", bytes);
  if (ms < 0) row("one key typed into a 5,000-line brain: THE BRAIN WAS REFUSED, ms", "-", "goal", "2", "-");
  else row(measure, fixed(ms, 3), "goal", "2", fixed(2 / std::max(ms, 1e-6), 0, "x"));
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s ZEPTA_PROGRAM (run in the working folder, ZEPTA_TEST_DATA set)\n", argv[0]);
    return 2;
  }
  if (const char* why = bench::prepare_scenes()) {
    std::fprintf(stderr, "table: %s\n", why);
    return 2;
  }
  const std::string program = argv[1];
  if (argc > 2 && std::strcmp(argv[2], "--editor") == 0) {
    editor_row();
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[2], "--hostile") == 0) {
    double worst = worst_hostile_tick_ms();
    row(worst >= 0 ? "worst tick of 10 hostile brains (on_list extremes, font_set size loops, nested execute, 16 MB "
                     "strings, boxes and files in loops), ms"
                   : "worst tick of hostile brains: THE SET-UP FAILED, ms",
        fixed(worst, 1), "goal", "100", fixed(100 / std::max(worst, 1e-3), 1, "x"));
    return 0;
  }
  const std::vector<std::string> demo = {"--mode", "1", "--project", "projects/demo/demo.prj"};

  TickParts parts;
  double tick = tick_us(parts);
  char measure[160];
  std::snprintf(measure, sizeof measure,
                "tick of 256 elements, us: input %.1f, collision pass (32,640 pairs, %d touching) %.1f, brain pass %.1f",
                parts.input, parts.contacts, parts.collisions, parts.brains);
  row(measure, fixed(tick, 1), "-", "-", "-");

  NetFigures net = network_figures();
  std::snprintf(measure, sizeof measure,
                net.added_us < 0 ? "network: THE SET-UP FAILED"
                                 : "network: brain pass cost added by 32 replicated elements of 256 (8 owned, 24 "
                                   "steered), us; %.1f on a tick that also sends a state message",
                net.added_sending_us);
  row(measure, fixed(net.added_us, 1), "-", "-", "-");
  // At most one state message a tick (30 a second), at least one every 90 ticks; each ENet
  // packet adds about 40 bytes of ENet, UDP and IP headers.
  std::snprintf(measure, sizeof measure,
                "network: bytes sent per second by a machine owning all 32 replicated elements at 30 messages a "
                "second (message %zu bytes + ~40 of headers)",
                net.message_bytes);
  row(measure, fixed(static_cast<double>(net.message_bytes + 40) * 30, 0), "-", "-", "-");

  double hits = 0;
  double poly = poly_collide_us(hits);
  std::snprintf(measure, sizeof measure,
                "polygon collision test, 12-triangle box moving over a 10,000-triangle mesh (%.0f%% hits), us per call",
                hits * 100);
  row(measure, fixed(poly, 2), "goal", "50", fixed(50 / std::max(poly, 1e-6), 0, "x"));
  double routine = poly_routine_us(hits);
  std::snprintf(measure, sizeof measure,
                routine < 0 ? "h_poly_collision, box element against a 10,000-triangle element: THE SET-UP FAILED, us per call"
                            : "h_poly_collision, box element moved by its record against a 10,000-triangle element "
                              "(%.0f%% hits), us per call",
                hits * 100);
  row(measure, fixed(routine, 2), "goal", "50", fixed(50 / std::max(routine, 1e-6), 0, "x"));

  // Start-up: process start to the end of a run of one tick, whose first frame is drawn before it.
  std::vector<std::string> one_tick = demo;
  one_tick.insert(one_tick.end(), {"--ticks", "1"});
  double startup = 1e30;
  int status = 0;
  for (int i = 0; i < 5; ++i) {
    Child c = spawn(program, one_tick);
    status |= c.status;
    if (c.seconds >= 0) startup = std::min(startup, c.seconds);
  }
  row(status == 0 ? "start-up to the first drawn demo frame (program run of 1 tick), ms"
                  : "start-up to the first drawn demo frame: THE PROGRAM FAILED, ms",
      fixed(startup * 1e3, 0), "goal", "300", fixed(0.3 / startup, 2, "x"));

  Render render = render_figures();
  row("demo frame, ms", fixed(render.demo_ms, 2), "-", "-", "-");
  char beside[96];
  std::snprintf(beside, sizeof beside, "direct OpenGL, same meshes (%.2f%% pixels differ)", render.differing * 100);
  std::snprintf(measure, sizeof measure, "256 visuals, ms per frame (scene layer overhead %.2fx, goal 1.2x at most)",
                render.scene_ms / render.direct_ms);
  row(measure, fixed(render.scene_ms, 2), beside, fixed(render.direct_ms, 2),
      fixed(render.direct_ms / render.scene_ms, 2, "x"));

  editor_row();

  std::vector<std::string> run = demo;
  run.insert(run.end(), {"--ticks", "300", "--fast"});
  Child c = spawn(program, run);
  row(c.status == 0 ? "peak resident memory, demo run of 300 ticks, MB" : "peak memory: THE PROGRAM FAILED, MB",
      fixed(static_cast<double>(c.peak_kb) / 1024.0, 1), "-", "-", "-");
  return 0;
}
