#include <QApplication>
#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Version.h"
#include "listing/ListCommand.h"
#include "window/Module_PreviousInstanceActivate.h"
#include "window/SiteDefaults.h"
#include "window/frm_Qvue.h"

namespace {

constexpr const char* kHelp =
    "usage: qvue [--root1 DIR] [--root2 DIR] [--host1 NAME] [--host2 NAME]\n"
    "       qvue --list [--single] [--decode] FOLDER\n"
    "       qvue --help | --version\n"
    "\n"
    "Window mode (no --list) opens the queue viewer: pick an installation, a\n"
    "queue folder and a special subfolder; the grid lists every message of the\n"
    "folder with its counters, and the menus open Filter.ini in the editor, open\n"
    "folders in the file manager, and run sievbat on the folder shown.\n"
    "  --root1 DIR, --root2 DIR    the two installation roots (built in:\n"
    "                              {root1} and {root2})\n"
    "  --host1 NAME, --host2 NAME  the hosts that run them, for the tooltip\n"
    "                              (built in: {host1} and {host2})\n"
    "The View menu's \"Decoded Headers\" shows Subject, From, To and ReturnPath\n"
    "with their RFC 2047 encoded words decoded; the files and the rules keep the\n"
    "raw text.\n"
    "A second qvue of the same user brings the running window to the front.\n"
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
    "--decode shows the four header cells as \"Decoded Headers\" does, in UTF-8.\n"
    "stderr, last line: Files Processed (Number/Size): N / BYTES, empty: E\n"
    "\n"
    "Both modes read Filter.ini from the folder that holds the qvue program.\n"
    "Exit status of --list: 0 listed (also for a missing or empty folder),\n"
    "1 Filter.ini cannot be loaded or FOLDER cannot be listed, 2 bad arguments.\n";

// The help with the roots and hosts this build has built in.
std::string HelpText() {
  std::string help = kHelp;
  const SiteDefaults& site = BuiltInSite();
  for (auto [mark, value] : {std::pair{"{root1}", site.Root1}, std::pair{"{root2}", site.Root2},
                             std::pair{"{host1}", site.Host1}, std::pair{"{host2}", site.Host2}}) {
    help.replace(help.find(mark), std::string_view(mark).size(), value);
  }
  return help;
}

bool ParseWindowArguments(const std::vector<std::string>& args, QvueSettings* settings) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string* target = nullptr;
    if (args[i] == "--root1") target = &settings->Root1;
    if (args[i] == "--root2") target = &settings->Root2;
    if (args[i] == "--host1") target = &settings->Host1;
    if (args[i] == "--host2") target = &settings->Host2;
    if (target == nullptr || i + 1 >= args.size()) {
      std::fprintf(stderr, "qvue: %s: unknown option or missing value (qvue --help tells more)\n", args[i].c_str());
      return false;
    }
    *target = args[++i];
    // Folders are held without a trailing separator.
    if (target == &settings->Root1 || target == &settings->Root2) {
      while (target->size() > 1 && target->back() == '/') target->pop_back();
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_TIME, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--help") {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "--version") {
    std::printf("qvue %s\n", kKestraneVersion);
    return 0;
  }
  if (!args.empty() && args[0] == "--list") {
    return RunListCommand(std::vector<std::string>(args.begin() + 1, args.end()), stdout, stderr);
  }

  QvueSettings settings;
  if (!ParseWindowArguments(args, &settings)) return 2;
  QApplication app(argc, argv);
  QApplication::setApplicationName("Qvuemon");
  std::setlocale(LC_TIME, "");  // QApplication may have set the locale anew
  std::setlocale(LC_NUMERIC, "C");
  frm_Qvue form(settings);
  if (!form.Form_Load()) return 0;  // the running viewer was brought to the front
  ListenForLaterInstances(&form);
  return app.exec();
}
