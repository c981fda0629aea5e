// Starting other programs. The viewer builds its command lines as a program
// name, one blank, and one argument that is a path or a folder, unquoted,
// possibly with blanks and shell characters inside
// ("EditPad.exe " + file, "EXPLORER.EXE /n,/e," + folder, "Sievbat.exe " +
// folder). The launcher maps those names to programs of this system and runs
// them without a shell, so nothing in the argument is ever interpreted.
//
// Program names (letter case ignored):
//   Sievbat.exe   the sievbat program in the program folder (Host().ProgramFolder())
//   EXPLORER.EXE  xdg-open on the folder after its "/n,/e," or "/n," switch
//   EditPad.exe   an executable "EditPad.exe" on PATH; else $QVUE_EDITOR;
//                 else $VISUAL; else the first of kGraphicalEditors on PATH;
//                 else xdg-open
//   anything else that program: a name with a "/" as it is, else found on PATH
// $QVUE_EDITOR and $VISUAL each name one program (a path, or a name looked up
// on PATH); they are not split into words, so "myedit --wait" is taken as a
// program of that whole name, is not found, and the next choice is tried.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts the command line without a shell and without waiting; false when
  // the program could not be started (not found, not executable).
  virtual bool Start(const std::string& command_line) = 0;
};

// The process-wide launcher. Defaults to the one that really starts programs.
Launcher& HostLauncher();

// Installs `launcher` as the process-wide one for the lifetime of the guard (tests).
class ScopedLauncher {
 public:
  explicit ScopedLauncher(Launcher& launcher);
  ~ScopedLauncher();
  ScopedLauncher(const ScopedLauncher&) = delete;
  ScopedLauncher& operator=(const ScopedLauncher&) = delete;

 private:
  Launcher* previous_;
};

// Splits at the first blank: the program name, and its one argument, which is
// everything after that blank kept literally (empty when there is no blank).
std::pair<std::string, std::string> SplitCommandLine(const std::string& command_line);

// Graphical text editors tried, in this order, when neither EditPad.exe nor
// $QVUE_EDITOR nor $VISUAL gives one.
inline constexpr std::string_view kGraphicalEditors[] = {
    "gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "pluma",
    "xed", "featherpad", "geany", "leafpad", "l3afpad",
};

// What the mapping looks at besides the command line. Empty strings stand
// for unset variables.
struct LaunchSettings {
  std::string path;            // $PATH
  std::string qvue_editor;     // $QVUE_EDITOR
  std::string visual;          // $VISUAL
  std::string program_folder;  // where sievbat is installed
};

// The settings of this process: its environment and Host().ProgramFolder().
LaunchSettings CurrentLaunchSettings();

// The full path of the executable ordinary file `name` in the first folder of
// `path_variable` (":"-separated; empty entries are skipped) that has one;
// empty when none has.
std::string FindOnPath(const std::string& name, const std::string& path_variable);

// The argv the real launcher executes for `command_line`: the program, then
// the argument when the command line has a blank. argv[0] is a path (it holds
// a "/") when the program was found; a bare name means it was not, and Start
// then fails without trying. Empty when the command line names no program.
std::vector<std::string> ResolveCommandLine(const std::string& command_line,
                                            const LaunchSettings& settings);
std::vector<std::string> ResolveCommandLine(const std::string& command_line);

// Runs argv[0] (a path) with exactly these arguments, in a new session,
// detached: the caller never waits for the program, and no child is left for
// it to reap. True when the program was executed.
bool StartDetached(const std::vector<std::string>& argv);

}  // namespace platform
