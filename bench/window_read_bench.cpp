// A 32 KiB chip read through the window against the same read with a view that shows nothing:
// what handing the status line, the gauge and the listing to the window's thread costs on top of
// the transfer.
//   window_read_bench [RUNS]    (any Qt platform; QT_QPA_PLATFORM=offscreen needs no display)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/main_window.h"
#include "link/chips.h"
#include "sim/device_model.h"
#include "sim/pty_simulator.h"

namespace {

constexpr int kOtherChip = zelwik::ToInt(zelwik::ChipCode::Other);  // a 32 KiB read

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

  zelwik::sim::DeviceModel model(zelwik::sim::SimChip::C55_12V);
  zelwik::sim::PtySimulator simulator(model);
  std::string reason;
  if (!simulator.Open(reason)) {
    std::fprintf(stderr, "window_read_bench: %s\n", reason.c_str());
    return 1;
  }
  simulator.Start();
  simulator.WithModel([](zelwik::sim::DeviceModel& m) { return m.Flash()[100] = 0; });
  qputenv("ZELWIK_COM2", QByteArray::fromStdString(simulator.SlavePath()));

  zelwik::app::MainForm form(std::nullopt, {.pause = [](int) {}});
  form.show();
  // Paints reach the screen only once the window is exposed, as it is before any user command.
  QElapsedTimer exposing;
  exposing.start();
  while (!(form.windowHandle() && form.windowHandle()->isExposed()) && exposing.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  QCoreApplication::processEvents();
  form.Run({zelwik::ui::Action::SelectChip, zelwik::ToInt(zelwik::ChipCode::C89C55)});
  form.state().ChipType = kOtherChip;

  std::vector<double> core, window;
  for (int i = 0; i < runs; ++i) {
    simulator.WithModel([](zelwik::sim::DeviceModel& m) {
      m.ClearFrameLog();
      return 0;
    });
    zelwik::State state;
    state.ChipType = kOtherChip;
    zelwik::NullView quiet;
    QElapsedTimer clock;
    clock.start();
    zelwik::ReadChip(state, quiet);
    core.push_back(clock.nsecsElapsed() / 1e6);

    simulator.WithModel([](zelwik::sim::DeviceModel& m) {
      m.ClearFrameLog();
      return 0;
    });
    // The read runs on while the window's event loop puts what it shows on the screen.
    QEventLoop loop;
    QObject::connect(&form, &zelwik::app::MainForm::operationEnded, &loop, &QEventLoop::quit);
    clock.restart();
    form.Run({zelwik::ui::Action::Read});
    loop.exec();
    window.push_back(clock.nsecsElapsed() / 1e6);
  }
  const double c = Median(core), w = Median(window);
  std::printf("32 KiB read, median of %d: no view %.1f ms, window %.1f ms, +%.1f %%\n", runs, c, w,
              100.0 * (w - c) / c);
  return 0;
}
