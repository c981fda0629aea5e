// Times the window's grid load of one folder, offscreen, and how often the
// counters were repainted meanwhile. The folder is reached as the default
// folder of an installation root: ROOT/Mail/Mailout/Wait.
//
//   window_load_bench ROOT [RUNS]
// prints one line per run: seconds, repaints, longest gap between repaints.
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "window/MSFlexGrid.h"
#include "window/frm_Qvue.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_load_bench ROOT [RUNS]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QvueSettings settings;
  settings.Root1 = argv[1];
  int runs = argc > 2 ? std::atoi(argv[2]) : 3;

  frm_Qvue form(settings);
  form.PreviousInstanceRunning = [] { return false; };
  form.ShowError = [](const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); };

  QElapsedTimer clock;
  qint64 last_paint = 0, longest_gap = 0;
  int repaints = 0;
  const bool show_gaps = qEnvironmentVariableIsSet("WINDOW_BENCH_GAPS");
  QObject::connect(&form, &frm_Qvue::CountersRepainted, [&] {
    qint64 now = clock.elapsed();
    if (show_gaps) std::fprintf(stderr, "%lld ", static_cast<long long>(now - last_paint));
    longest_gap = std::max(longest_gap, now - last_paint);
    last_paint = now;
    ++repaints;
  });

  clock.start();
  if (!form.Form_Load()) return 1;
  for (int run = 0; run < runs; ++run) {
    repaints = 0;
    longest_gap = 0;
    clock.restart();
    last_paint = 0;
    form.cmd_GO_Click();
    qint64 total = clock.elapsed();
    longest_gap = std::max(longest_gap, total - last_paint);
    std::printf("load %.3f s, rows %lld, repaints %d (%.1f per second), longest gap %lld ms\n", total / 1000.0,
                static_cast<long long>(form.Grid()->Rows() - 1), repaints,
                total > 0 ? repaints * 1000.0 / static_cast<double>(total) : 0.0, static_cast<long long>(longest_gap));
  }
  return 0;
}
