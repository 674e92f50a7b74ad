// The command line: "/" values and long options.
#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shell/shell.h"

namespace shell {
namespace {

TEST(CommandValues, ReadsSlashIntroducedIntegers) {
  struct Case {
    const char* line;
    std::vector<std::int32_t> values;
  } cases[] = {
      {"/5 /7", {5, 7}},
      {"x /5 /7", {}},
      {"", {}},
      {"/-3 /12abc /+4", {-3, 12, 4}},
      {"/8/9 /10", {8, 10}},     // the rest of a word is skipped
      {"/x /2", {0, 2}},         // no digits read as 0
      {"/1  \t /2 three /3", {1, 2}},  // reading stops at a word without "/"
      {"/4294967297", {1}},      // wraps in 32 bits
  };
  for (const Case& c : cases) {
    CommandValues v;
    parse_command_values(c.line, v);
    ASSERT_EQ(par_count(v), static_cast<std::int32_t>(c.values.size())) << c.line;
    for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(par_get(v, static_cast<int>(i)), c.values[i]) << c.line;
  }
}

TEST(CommandValues, KeepsTheFirst1024AndAnswersZeroOutside) {
  std::string line;
  for (int i = 1; i <= 1500; ++i) line += "/" + std::to_string(i) + " ";
  CommandValues v;
  parse_command_values(line, v);
  EXPECT_EQ(par_count(v), 1024);
  EXPECT_EQ(par_get(v, 0), 1);
  EXPECT_EQ(par_get(v, 1023), 1024);
  EXPECT_EQ(par_get(v, 1024), 0);
  EXPECT_EQ(par_get(v, -1), 0);  // unsigned compare: never reads before the table
  EXPECT_EQ(par_get(v, INT32_MIN), 0);
}

ParseResult parse(std::vector<const char*> args, Options& o, Text& error) {
  args.insert(args.begin(), "zepta");
  return parse_options(static_cast<int>(args.size()), args.data(), o, error);
}

TEST(LongOptions, SetTheirValues) {
  Options o;
  Text error;
  ASSERT_EQ(parse({"--workdir", "/tmp/w", "--mode=14", "--project", "projects/a.prj", "--element", "3", "--headless",
                   "--windowed", "--input", "s.txt", "/5", "/7"},
                  o, error),
            ParseResult::run)
      << error.c_str();
  EXPECT_EQ(o.workdir, "/tmp/w");
  EXPECT_TRUE(o.has_mode && o.has_project && o.has_element);
  EXPECT_EQ(o.mode, 14);
  EXPECT_EQ(o.project, "projects/a.prj");
  EXPECT_EQ(o.element, 3);
  EXPECT_TRUE(o.headless && o.windowed);
  EXPECT_EQ(o.input, "s.txt");
  EXPECT_EQ(par_count(o.values), 2);
  EXPECT_EQ(par_get(o.values, 1), 7);

  ASSERT_EQ(parse({"--fast", "--ticks", "3000", "--dump=out.txt"}, o, error), ParseResult::run) << error.c_str();
  EXPECT_TRUE(o.fast);
  EXPECT_EQ(o.max_ticks, 3000);
  EXPECT_EQ(o.dump, "out.txt");

  ASSERT_EQ(parse({"--screenshot", "100:demo.png", "--screenshot=5:dir/a b.png"}, o, error), ParseResult::run);
  ASSERT_EQ(o.screenshot_count, 2);
  EXPECT_EQ(o.screenshots[0].tick, 100);
  EXPECT_EQ(o.screenshots[0].file, "demo.png");
  EXPECT_EQ(o.screenshots[1].tick, 5);
  EXPECT_EQ(o.screenshots[1].file, "dir/a b.png");
  std::vector<const char*> many;
  for (int i = 0; i <= kMaxScreenshots; ++i) many.push_back("--screenshot=1:a.png");
  EXPECT_EQ(parse(many, o, error), ParseResult::bad);  // 17 are refused

  EXPECT_EQ(parse({}, o, error), ParseResult::run);
  EXPECT_EQ(o.screenshot_count, 0);
  EXPECT_FALSE(o.has_mode || o.has_project || o.has_element || o.headless || o.fast);
  EXPECT_EQ(o.max_ticks, -1);
  EXPECT_EQ(parse({"--help"}, o, error), ParseResult::help);
  EXPECT_EQ(parse({"-h"}, o, error), ParseResult::help);
  EXPECT_EQ(parse({"projects/a.prj", "-h"}, o, error), ParseResult::help);
  EXPECT_EQ(parse({"--version"}, o, error), ParseResult::version);
}

TEST(LongOptions, BadOnesGiveOneLine) {
  const std::vector<const char*> bad[] = {
      {"--frobnicate"}, {"--mode"}, {"--mode", "x"}, {"--mode", "3x"}, {"--element="},
      {"--headless=1"}, {"--workdir"}, {"--input="}, {"--mode", "99999999999"},
      {"--ticks", "-1"}, {"--ticks"}, {"--fast=1"}, {"--dump"},
      {"--screenshot", "10"}, {"--screenshot", "10:"}, {"--screenshot", ":a.png"}, {"--screenshot", "-1:a.png"},
      {"--screenshot=x:a.png"}, {"--package", "a.mlv"}, {"--package", "a.mlv", "out", "more"},
      {"--package", "a.mlv", "out", "--check"}, {"--title", "T", "a.prj"},
  };
  for (const auto& args : bad) {
    Options o;
    Text error;
    EXPECT_EQ(parse(args, o, error), ParseResult::bad) << args[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.view().find('\n'), std::string_view::npos);
    EXPECT_EQ(error.view().substr(0, 7), "zepta: ");
  }
}

// Screenshots are PNG files: another name is refused on the command line.
TEST(LongOptions, ScreenshotNamesEndInPng) {
  struct {
    const char* arg;
    const char* error;  // "" accepted
  } cases[] = {
      {"10:shot.png", ""},
      {"10:SHOT.PNG", ""},
      {"10:shot.bmp", "zepta: option '--screenshot' saves PNG pictures: 'shot.bmp' does not end in .png"},
      {"10:shot", "zepta: option '--screenshot' saves PNG pictures: 'shot' does not end in .png"},
      {"10:.pn", "zepta: option '--screenshot' saves PNG pictures: '.pn' does not end in .png"},
  };
  for (const auto& c : cases) {
    Options o;
    Text error;
    EXPECT_EQ(parse({"--screenshot", c.arg}, o, error), c.error[0] ? ParseResult::bad : ParseResult::run) << c.arg;
    EXPECT_EQ(error, c.error);
  }
}

// The last resort of main: whatever escapes the program is one line, and status 6.
TEST(LastResort, AnEscapedExceptionIsOneLine) {
  struct {
    std::exception_ptr escaped;
    const char* line;
  } cases[] = {
      {std::make_exception_ptr(std::runtime_error("no room\nleft")), "zepta: unexpected failure: no room left\n"},
      {std::make_exception_ptr(std::bad_alloc()), "zepta: unexpected failure: out of memory\n"},
      {std::make_exception_ptr(42), "zepta: unexpected failure: an exception of unknown type\n"},
  };
  for (const auto& c : cases) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(report_escaped(c.escaped, out), 6);
    std::rewind(out);
    char text[256] = {};
    std::size_t n = std::fread(text, 1, sizeof text - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(text, n), c.line);
  }
}

// Words that are not options: a project (a test run from element 0 unless the
// options say otherwise), "/" values, or with --check, wherever it stands, files.
TEST(LongOptions, WordsNameTheProjectValuesOrFilesToCheck) {
  struct {
    std::vector<const char*> args;
    ParseResult result;
    const char* project;
    std::int32_t mode, element;
    std::vector<std::int32_t> values;
    std::vector<std::string> check;
  } cases[] = {
      {{"projects/a.prj"}, ParseResult::run, "projects/a.prj", 1, 0, {}, {}},
      {{"--mode", "14", "--element", "2", "A.PRJ", "/5"}, ParseResult::run, "A.PRJ", 14, 2, {5}, {}},
      {{"/5", "/tmp/w/a.prj", "/7"}, ParseResult::run, "/tmp/w/a.prj", 1, 0, {5, 7}, {}},
      {{"notes.txt"}, ParseResult::run, "notes.txt", 1, 0, {}, {}},  // refused later: not a project file
      {{"/5", "/7"}, ParseResult::run, "", 0, 0, {5, 7}, {}},
      {{"a.brn", "--check", "--headless", "b.prj"}, ParseResult::check, "", 0, 0, {}, {"a.brn", "b.prj"}},
  };
  for (const auto& c : cases) {
    Options o;
    Text error;
    ASSERT_EQ(parse(c.args, o, error), c.result) << c.args[0] << " " << error.c_str();
    EXPECT_EQ(o.project, c.project) << c.args[0];
    EXPECT_EQ(o.mode, c.mode) << c.args[0];
    EXPECT_EQ(o.element, c.element) << c.args[0];
    ASSERT_EQ(par_count(o.values), static_cast<std::int32_t>(c.values.size())) << c.args[0];
    for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(par_get(o.values, static_cast<int>(i)), c.values[i]);
    EXPECT_EQ(o.check, c.check) << c.args[0];
  }
}

// --package LIST OUTDIR, with --title anywhere (an empty title too).
TEST(LongOptions, PackageTakesAListAndAFolder) {
  struct {
    std::vector<const char*> args;
    const char* title;
    bool has_title;
  } cases[] = {
      {{"--package", "l.mlv", "out"}, "", false},
      {{"out", "--title", "My Game", "--package=l.mlv"}, "My Game", true},
      {{"--package", "l.mlv", "--title=", "out"}, "", true},
  };
  for (const auto& c : cases) {
    Options o;
    Text error;
    ASSERT_EQ(parse(c.args, o, error), ParseResult::package) << c.args[0] << " " << error.c_str();
    EXPECT_EQ(o.package_list, "l.mlv");
    EXPECT_EQ(o.package_folder, "out");
    EXPECT_EQ(o.package_title, c.title);
    EXPECT_EQ(o.has_title, c.has_title);
  }
}

// The network options: each switches networking on; --join's PORT comes before --port.
TEST(LongOptions, NetworkOptionsAskForASession) {
  const std::string name63(63, 's'), name64(64, 's'), player201(201, 'p');
  struct {
    std::vector<const char*> args;
    bool host;
    const char* join;
    std::int32_t port;
    const char* session;
    const char* player;
  } cases[] = {
      {{"--host"}, true, "", 0, "", ""},
      {{"--host", "--port", "4000", "--session", "Friday game", "--player=Ann"}, true, "", 4000, "Friday game", "Ann"},
      {{"--join", "192.0.2.7"}, false, "192.0.2.7", 0, "", ""},
      {{"--join=game.example:4001", "--port", "4000"}, false, "game.example", 4001, "", ""},
      {{"--port", "4000", "--join", "127.0.0.1:4001"}, false, "127.0.0.1", 4001, "", ""},
      {{"--port", "65535"}, false, "", 65535, "", ""},
      {{"--session", name63.c_str()}, false, "", 0, name63.c_str(), ""},
  };
  for (const auto& c : cases) {
    Options o;
    Text error;
    ASSERT_EQ(parse(c.args, o, error), ParseResult::run) << c.args[0] << " " << error.c_str();
    EXPECT_TRUE(o.network.given) << c.args[0];
    EXPECT_EQ(o.network.host, c.host) << c.args[0];
    EXPECT_EQ(o.network.join, c.join) << c.args[0];
    EXPECT_EQ(o.network.port, c.port) << c.args[0];
    EXPECT_EQ(o.network.session, c.session) << c.args[0];
    EXPECT_EQ(o.network.player, c.player) << c.args[0];
  }
  Options o;
  Text error;
  ASSERT_EQ(parse({"projects/a.prj"}, o, error), ParseResult::run);
  EXPECT_FALSE(o.network.given);

  struct {
    std::vector<const char*> args;
    const char* error;
  } bad[] = {
      {{"--host", "--join", "127.0.0.1"}, "zepta: options '--host' and '--join' do not go together"},
      {{"--host=1"}, "zepta: option '--host' takes no value"},
      {{"--join"}, "zepta: option '--join' needs a value"},
      {{"--join", "127.0.0.1:0"}, "zepta: option '--join' needs ADDRESS or ADDRESS:PORT, not '127.0.0.1:0'"},
      {{"--join", "a:b"}, "zepta: option '--join' needs ADDRESS or ADDRESS:PORT, not 'a:b'"},
      {{"--join", ":4000"}, "zepta: option '--join' needs ADDRESS or ADDRESS:PORT, not ':4000'"},
      {{"--port", "0"}, "zepta: option '--port' needs a port from 1 to 65535, not '0'"},
      {{"--port", "65536"}, "zepta: option '--port' needs a port from 1 to 65535, not '65536'"},
      {{"--port", "x"}, "zepta: option '--port' needs a number, not 'x'"},
      {{"--session="}, "zepta: option '--session' needs a value"},
      {{"--session", name64.c_str()}, "zepta: option '--session' takes at most 63 characters"},
      {{"--player", player201.c_str()}, "zepta: option '--player' takes at most 200 characters"},
  };
  for (const auto& c : bad) {
    EXPECT_EQ(parse(c.args, o, error), ParseResult::bad) << c.args[0];
    EXPECT_EQ(error, c.error) << c.args[0];
  }
}

// The examples of --help are command lines the program takes.
TEST(Usage, ExamplesParse) {
  std::string_view usage = usage_text();
  std::size_t at = usage.find("Examples:\n");
  ASSERT_NE(at, std::string_view::npos);
  int examples = 0;
  for (at = usage.find("\n  zepta ", at); at != std::string_view::npos; at = usage.find("\n  zepta ", at + 1)) {
    std::string line(usage.substr(at + 3, usage.find('\n', at + 1) - at - 3));
    std::vector<std::string> words;
    for (std::size_t from = 0; from < line.size();) {
      std::size_t blank = line.find(' ', from);
      words.push_back(line.substr(from, blank - from));
      from = blank == std::string::npos ? line.size() : blank + 1;
    }
    std::vector<const char*> args;
    for (std::size_t i = 1; i < words.size(); ++i) args.push_back(words[i].c_str());
    Options o;
    Text error;
    EXPECT_EQ(parse(args, o, error), ParseResult::run) << line << ": " << error.c_str();
    EXPECT_EQ(o.mode, 1) << line;
    ++examples;
  }
  EXPECT_EQ(examples, 2);
}

// Every event the input script reader takes is named in the --input help, in the
// form written there.
TEST(Usage, NamesEveryScriptEvent) {
  struct Case {
    const char* script_line;
    const char* help_form;
  } cases[] = {
      {"1 key 30 97", "key KEY [CHAR]"},       {"1 down 42", "down KEY"},
      {"1 up LEFT", "up KEY"},                 {"1 key Space", "KEY is a scan code, or a key name"},
      {"1 mouse 3 4 1", "mouse X Y BUTTONS"},
      {"1 wheel -120", "wheel DELTA"},         {"1 joy 2 axis zr -1000", "joy N axis NAME VALUE"},
      {"1 joy 1 button 31 1", "joy N button B 0|1"}, {"1 joy 1 hat 3 -1", "joy N hat H VALUE"},
      {"1 joy 2 present 0", "joy N present 0|1"},
  };
  std::string_view usage = usage_text();
  for (const Case& c : cases) {
    platform::Script script;
    platform::ScriptError error;
    EXPECT_TRUE(platform::parse_script(c.script_line, script, error)) << c.script_line << ": " << error.message;
    EXPECT_NE(usage.find(c.help_form), std::string_view::npos) << c.help_form;
  }
}

}  // namespace
}  // namespace shell
