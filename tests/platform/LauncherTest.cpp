// The launcher: how the command lines the viewer builds become an argv, and
// that starting one runs the program detached with its argument intact.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/Launcher.h"
#include "tests/TestSupport.h"
#include "tests/platform/FakeFileSystem.h"

namespace {

using Argv = std::vector<std::string>;
using test_support::TempFolder;

void MakeProgram(const std::string& path, const std::string& body = "#!/bin/sh\n", mode_t mode = 0755) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  test_support::WriteFile(path, body);
  ::chmod(path.c_str(), mode);
}

// True when this process has no child at all, not even a zombie.
bool NoChildren() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// The descriptors this process holds open: a start must leave none behind,
// or a viewer that starts programs all day runs out of them.
std::size_t OpenDescriptors() {
  auto entries = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

TEST(ResolveTest, MapsProgramNamesAndKeepsTheArgumentLiteral) {
  TempFolder first, second;
  for (const char* name : {"xdg-open", "tool"}) MakeProgram(first / name);
  MakeProgram(second / "gedit");
  // A folder that does not exist, an empty entry and a trailing slash.
  const platform::LaunchSettings settings{.path = "/none:" + first.path() + "::" + second.path() + "/",
                                          .qvue_editor = "", .visual = "", .program_folder = "/opt/kestrane bin"};
  const std::string open = first / "xdg-open";
  const std::string hostile = "/q/Mail Out; rm -rf $HOME | `id` $(id) 'x' \"y\" * ~";
  struct Case { std::string line; Argv argv; } cases[] = {
      {"Sievbat.exe /q/Mail Out", {"/opt/kestrane bin/sievbat", "/q/Mail Out"}},
      {"SIEVBAT.EXE " + hostile, {"/opt/kestrane bin/sievbat", hostile}},
      {"sievbat.exe", {"/opt/kestrane bin/sievbat"}},
      {"EXPLORER.EXE /n,/e,/q/a b", {open, "/q/a b"}}, {"Explorer.Exe /N,/E,/q", {open, "/q"}},
      {"EXPLORER.EXE /n,/e,/n,x", {open, "/n,x"}},     {"explorer.exe /n,/q/x;y", {open, "/q/x;y"}},
      {"EXPLORER.EXE /q/plain", {open, "/q/plain"}},   {"EXPLORER.EXE", {open}},
      {"EditPad.exe " + hostile, {second / "gedit", hostile}},
      {"editpad.exe  two", {second / "gedit", " two"}}, {"tool a|b", {first / "tool", "a|b"}},
      {"missing-tool x", {"missing-tool", "x"}},        {"/abs/prog $x", {"/abs/prog", "$x"}},
      {"", {}},                                         {" lead", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::ResolveCommandLine(c.line, settings), c.argv) << c.line;
}

TEST(ResolveTest, FindsTheEditorInItsOrderOfChoice) {
  TempFolder elsewhere;
  const std::string abs_editor = elsewhere / "my editor";
  MakeProgram(abs_editor);
  MakeProgram(elsewhere / "not-executable", "#!/bin/sh\n", 0644);
  // `on_path` is put in the PATH folder ("x/" a folder, "-x" not executable); `editor` is QVUE_EDITOR;
  // `expected` is relative to the PATH folder unless it holds a "/", "" when none is found.
  struct Case { const char* what; std::vector<std::string> on_path; std::string editor, visual, expected; } cases[] = {
      {"EditPad.exe on PATH wins", {"EditPad.exe", "ed1", "kate"}, "ed1", "ed1", "EditPad.exe"},
      {"QVUE_EDITOR as a path", {"ed2", "kate"}, abs_editor, "ed2", abs_editor},
      {"QVUE_EDITOR found on PATH", {"ed1", "ed2"}, "ed1", "ed2", "ed1"},
      {"QVUE_EDITOR is not split into words", {"ed1", "ed2"}, "ed1 --wait", "ed2", "ed2"},
      {"QVUE_EDITOR not executable", {"ed2"}, elsewhere / "not-executable", "ed2", "ed2"},
      {"VISUAL missing falls to the list", {"mousepad"}, "", "nowhere", "mousepad"},
      {"the list's order, not PATH's", {"geany", "kate", "gedit"}, "", "", "gedit"},
      {"a folder or a file without x bit is skipped", {"gedit/", "-kate", "kwrite"}, "", "", "kwrite"},
      {"no editor: xdg-open", {"xdg-open"}, "", "", "xdg-open"},
      {"nothing at all", {}, "", "", ""},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    for (const std::string& name : c.on_path) {
      if (name.back() == '/') std::filesystem::create_directory(folder / name);
      else if (name[0] == '-') MakeProgram(folder / name.substr(1), "#!/bin/sh\n", 0644);
      else MakeProgram(folder / name);
    }
    const platform::LaunchSettings settings{.path = folder.path(), .qvue_editor = c.editor, .visual = c.visual,
                                            .program_folder = ""};
    std::string expected = c.expected;
    if (expected.empty()) expected = "xdg-open";  // the bare name, which Start refuses
    else if (expected.find('/') == std::string::npos) expected = folder / expected;
    EXPECT_EQ(platform::ResolveCommandLine("EditPad.exe f", settings), (Argv{expected, "f"})) << c.what;
  }
}

TEST(CurrentLaunchSettings, ComeFromTheEnvironmentAndTheHost) {
  TempFolder bin;
  MakeProgram(bin / "chosen");
  testing_host::FakeFileSystem fake;  // its program folder is "/prog"
  test_support::ScopedEnv path("PATH", bin.path().c_str());
  test_support::ScopedEnv editor("QVUE_EDITOR", "chosen");
  test_support::ScopedEnv visual("VISUAL", nullptr);
  EXPECT_EQ(platform::ResolveCommandLine("Sievbat.exe /q"), (Argv{"/prog/sievbat", "/q"}));
  EXPECT_EQ(platform::ResolveCommandLine("EditPad.exe /q/f"), (Argv{bin / "chosen", "/q/f"}));
}

// A program that waits for a "go" file beside it, then writes how many
// arguments it got and the first one: no "args" file after Start shows that
// Start returned while the program still ran.
const char kRecorder[] =
    "#!/bin/sh\n"
    "dir=$(dirname \"$0\")\n"
    "i=0\n"
    "while [ ! -e \"$dir/go\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
    "{ printf '%s\\n' \"$#\"; printf '%s' \"$1\"; } > \"$dir/args.tmp\"\n"
    "mv \"$dir/args.tmp\" \"$dir/args\"\n";

TEST(Start, RunsTheProgramDetachedWithItsArgumentIntact) {
  const std::string hostile = "/q/Mail Out; touch pwned | `touch pwned` $(touch pwned) 'x' \"y\" * ~ ";
  // The script's file name, the command line after the script's folder, what the script writes.
  struct Case { const char* what; std::string name, line, expected; } cases[] = {
      {"by path", "rec", "/rec " + hostile, "1\n" + hostile},
      {"no argument", "rec", "/rec", "0\n"},
      {"through the sievbat mapping", "sievbat", "", "1\n/q/a b"},
  };
  for (const Case& c : cases) {
    TempFolder dir;
    MakeProgram(dir / c.name, kRecorder);
    testing_host::FakeFileSystem fake;
    fake.program_folder = dir.path();
    std::string line = c.line.empty() ? "SievBat.EXE /q/a b" : dir.path() + c.line;

    const std::size_t descriptors = OpenDescriptors();
    ASSERT_TRUE(platform::HostLauncher().Start(line)) << c.what;
    EXPECT_EQ(OpenDescriptors(), descriptors) << c.what;  // the report pipe's read end is closed too
    EXPECT_FALSE(std::filesystem::exists(dir / "args")) << c.what << ": Start waited for the program";
    EXPECT_TRUE(NoChildren()) << c.what;

    test_support::WriteFile(dir / "go", "");
    for (int i = 0; i < 400 && !std::filesystem::exists(dir / "args"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_EQ(test_support::ReadFile(dir / "args"), c.expected) << c.what;
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned")) << c.what;
    EXPECT_FALSE(std::filesystem::exists("pwned")) << c.what;
  }
}

TEST(Start, FailsWhenTheProgramCannotBeRun) {
  TempFolder dir;
  MakeProgram(dir / "plain", "#!/bin/sh\n", 0644);
  MakeProgram(dir / "garbage", "not a program\n");
  std::filesystem::create_directories(dir / "folder");
  const std::string lines[] = {"", "no-such-program x", dir / "missing x", dir / "plain x", dir / "garbage x",
                               dir / "folder x"};
  const std::size_t descriptors = OpenDescriptors();
  for (const std::string& line : lines) EXPECT_FALSE(platform::HostLauncher().Start(line)) << line;
  EXPECT_TRUE(NoChildren());
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

// Signals that interrupt the wait for the program (a timer firing every
// 50 microseconds, its handler installed without SA_RESTART) never make a
// start that worked look failed.
TEST(Start, WaitsThroughInterruptingSignals) {
  TempFolder dir;
  MakeProgram(dir / "quick");
  struct sigaction tick {}, old {};
  tick.sa_handler = [](int) {};
  ASSERT_EQ(::sigaction(SIGALRM, &tick, &old), 0);
  itimerval every{{0, 50}, {0, 50}}, off{};
  ::setitimer(ITIMER_REAL, &every, nullptr);
  int started = 0;
  for (int i = 0; i < 20; ++i) started += platform::HostLauncher().Start(dir / "quick") ? 1 : 0;
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(started, 20);
}

}  // namespace
