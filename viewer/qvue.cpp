#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "viewer/ListCommand.h"

namespace {

constexpr const char* kHelp =
    "usage: qvue --list [--single] FOLDER\n"
    "       qvue --help\n"
    "\n"
    "Window mode (qvue with no arguments) opens the queue viewer: a grid of\n"
    "every message of the chosen queue folder with counters and actions. It\n"
    "is not part of this build yet.\n"
    "\n"
    "--list prints, without a window and without a display, the rows the\n"
    "viewer's grid shows for FOLDER, in the folder's own order:\n"
    "  - message pairs (name.q0 with name.q1), as in Mailout and NNTP, by default;\n"
    "  - one-file messages (every file), as in MailIn, ~Filtered, Trash and\n"
    "    ~Bounces, with --single.\n"
    "stdout: a line of the nine column titles, then one line per message with\n"
    "its nine cells (number, file name, size, filter classification, subject,\n"
    "from, to, return path, date as ~YYYY/MM/DD HH:NN:SS), separated by TAB;\n"
    "inside a cell backslash, TAB, LF and CR are written \\\\, \\t, \\n and \\r.\n"
    "stderr, last line: Files Processed (Number/Size): N / BYTES, empty: E\n"
    "Filter.ini is read from the folder that holds the qvue program.\n"
    "Exit status: 0 listed (also for a missing or empty folder), 1 Filter.ini\n"
    "cannot be loaded, 2 bad arguments.\n";

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_TIME, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "--list") {
    return RunListCommand(std::vector<std::string>(args.begin() + 1, args.end()), stdout, stderr);
  }
  std::fputs("qvue: the window is not part of this build yet; see qvue --help for --list\n", stderr);
  return 2;
}
