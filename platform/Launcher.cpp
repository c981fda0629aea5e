#include "platform/Launcher.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace platform {
namespace {

class RealLauncher : public Launcher {
 public:
  bool Start(const std::string& command_line) override {
    return StartDetached(ResolveCommandLine(command_line));
  }
};

Launcher*& CurrentLauncher() {
  static RealLauncher real;
  static Launcher* current = &real;
  return current;
}

std::string Environment(const char* name) {
  const char* value = ::getenv(name);
  return value != nullptr ? value : "";
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The full path of `name` on PATH, or the bare name when it is not there, so
// the caller can tell a miss from a hit by the missing "/".
std::string OnPathOrBare(const std::string& name, const std::string& path_variable) {
  std::string found = FindOnPath(name, path_variable);
  return found.empty() ? name : found;
}

// A program named by an environment variable: one name, not split into words.
// A value with a "/" is a path and counts when it is executable; a bare name
// is looked up on PATH. Empty when the value gives no program.
std::string ProgramFromVariable(const std::string& value, const std::string& path_variable) {
  if (value.empty()) return "";
  if (value.find('/') != std::string::npos) return IsExecutableFile(value) ? value : "";
  return FindOnPath(value, path_variable);
}

std::string FindEditor(const LaunchSettings& settings) {
  for (const std::string& program : {FindOnPath("EditPad.exe", settings.path),
                                     ProgramFromVariable(settings.qvue_editor, settings.path),
                                     ProgramFromVariable(settings.visual, settings.path)}) {
    if (!program.empty()) return program;
  }
  for (std::string_view editor : kGraphicalEditors) {
    std::string program = FindOnPath(std::string(editor), settings.path);
    if (!program.empty()) return program;
  }
  return OnPathOrBare("xdg-open", settings.path);
}

// The folder of an "EXPLORER.EXE" argument: "/n,/e,F" and "/n,F" both open F.
std::string StripExplorerSwitch(const std::string& argument) {
  for (std::string_view prefix : {std::string_view("/n,/e,"), std::string_view("/n,")}) {
    if (argument.size() >= prefix.size() && EqualsIgnoreCase(std::string_view(argument).substr(0, prefix.size()), prefix)) {
      return argument.substr(prefix.size());
    }
  }
  return argument;
}

// Writes all of `value` to `fd`; used between fork and exec, so only
// async-signal-safe calls.
void ReportErrno(int fd, int value) {
  const char* bytes = reinterpret_cast<const char*>(&value);
  std::size_t left = sizeof value;
  while (left > 0) {
    ssize_t n = ::write(fd, bytes, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

Launcher& HostLauncher() { return *CurrentLauncher(); }

ScopedLauncher::ScopedLauncher(Launcher& launcher) : previous_(CurrentLauncher()) { CurrentLauncher() = &launcher; }
ScopedLauncher::~ScopedLauncher() { CurrentLauncher() = previous_; }

std::pair<std::string, std::string> SplitCommandLine(const std::string& command_line) {
  std::size_t blank = command_line.find(' ');
  if (blank == std::string::npos) return {command_line, ""};
  return {command_line.substr(0, blank), command_line.substr(blank + 1)};
}

LaunchSettings CurrentLaunchSettings() {
  LaunchSettings settings;
  settings.path = Environment("PATH");
  settings.qvue_editor = Environment("QVUE_EDITOR");
  settings.visual = Environment("VISUAL");
  settings.program_folder = Host().ProgramFolder();
  return settings;
}

std::string FindOnPath(const std::string& name, const std::string& path_variable) {
  if (name.empty() || name.find('/') != std::string::npos) return "";
  std::size_t start = 0;
  while (start <= path_variable.size()) {
    std::size_t end = path_variable.find(':', start);
    if (end == std::string::npos) end = path_variable.size();
    if (end > start) {
      std::string candidate = path_variable.substr(start, end - start);
      if (candidate.back() != '/') candidate += '/';
      candidate += name;
      if (IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return "";
}

std::vector<std::string> ResolveCommandLine(const std::string& command_line, const LaunchSettings& settings) {
  auto [name, argument] = SplitCommandLine(command_line);
  if (name.empty()) return {};
  const bool has_argument = command_line.find(' ') != std::string::npos;

  std::string program;
  if (EqualsIgnoreCase(name, "Sievbat.exe")) {
    program = settings.program_folder + "/sievbat";
  } else if (EqualsIgnoreCase(name, "EXPLORER.EXE")) {
    program = OnPathOrBare("xdg-open", settings.path);
    argument = StripExplorerSwitch(argument);
  } else if (EqualsIgnoreCase(name, "EditPad.exe")) {
    program = FindEditor(settings);
  } else if (name.find('/') != std::string::npos) {
    program = name;
  } else {
    program = OnPathOrBare(name, settings.path);
  }

  std::vector<std::string> argv{program};
  if (has_argument) argv.push_back(argument);
  return argv;
}

std::vector<std::string> ResolveCommandLine(const std::string& command_line) {
  return ResolveCommandLine(command_line, CurrentLaunchSettings());
}

bool StartDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].find('/') == std::string::npos) return false;

  // Everything the children need is built before fork: after it only
  // async-signal-safe calls are allowed, as the viewer has other threads.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  // The write end closes on a successful exec; before that, a failed fork or
  // exec sends its errno through it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;

  pid_t middle = ::fork();
  if (middle < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (middle == 0) {
    // The middle child leaves at once, so the program is adopted by init (or
    // the nearest subreaper) and never becomes a zombie of the viewer.
    ::close(report[0]);
    ::setsid();
    pid_t program = ::fork();
    if (program < 0) {
      ReportErrno(report[1], errno);
      ::_exit(1);
    }
    if (program == 0) {
      sigset_t none;
      ::sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::signal(SIGPIPE, SIG_DFL);
      ::signal(SIGCHLD, SIG_DFL);
      ::execv(args[0], args.data());
      ReportErrno(report[1], errno);
      ::_exit(127);
    }
    ::_exit(0);
  }

  ::close(report[1]);
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(middle, &status, 0);
  } while (waited < 0 && errno == EINTR);
  // With SIGCHLD ignored the middle child is reaped by the system (ECHILD);
  // the pipe still tells whether the program ran.
  bool middle_ok = (waited == middle && WIFEXITED(status) && WEXITSTATUS(status) == 0) ||
                   (waited < 0 && errno == ECHILD);

  int child_errno = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &child_errno, sizeof child_errno);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  return middle_ok && n == 0;
}

}  // namespace platform
