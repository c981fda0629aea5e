// A stand-in for qvue's start, for InstanceTest: it does what qvue does with
// the single-instance channel and reports each step on stdout.
//   instance_probe          "second" and exit 0 when another probe answered;
//                           else "first", a minimised window titled Qvuemon,
//                           and, once a later start raises it, "activated"
//                           (or "activated but still minimised") and exit 0
//   instance_probe --decoy  a minimised window titled Qvuemon that never
//                           touches the channel; "decoy", then runs until killed
// Every probe gives up after 30 s so none outlives a failed test for long.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include "window/Module_PreviousInstanceActivate.h"

static void Say(const char* line) { std::printf("%s\n", line), std::fflush(stdout); }

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTimer::singleShot(30000, &app, [] { QCoreApplication::exit(3); });
  const bool decoy = argc > 1 && std::strcmp(argv[1], "--decoy") == 0;

  if (!decoy && ActivatePreviousInstance()) {
    Say("second");
    return 0;
  }
  QWidget window;
  window.setWindowTitle("Qvuemon");
  if (!decoy) {
    ListenForLaterInstances(&window, [&window] {
      Say(window.isMinimized() || !window.isVisible() ? "activated but still minimised" : "activated");
      QCoreApplication::exit(0);
    });
  }
  window.showMinimized();
  Say(decoy ? "decoy" : "first");
  return app.exec();
}
