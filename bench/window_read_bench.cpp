// A 32 KiB chip read through the window against the same read with a view that shows nothing:
// what the status line, the gauge and the listing cost on top of the transfer.
//   window_read_bench [RUNS]    (any Qt platform; QT_QPA_PLATFORM=offscreen needs no display)
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/gauge.h"
#include "app/main_window.h"
#include "app/window_view.h"
#include "link/chips.h"
#include "sim/device_model.h"
#include "sim/pty_simulator.h"

namespace {

constexpr int kOtherChip = zelwik::ToInt(zelwik::ChipCode::Other);  // a 32 KiB read

// Forwards to the window's view and adds up the time spent in it.
class TimedView : public zelwik::View {
 public:
  explicit TimedView(zelwik::View& inner) : inner_(inner) {}
  qint64 nanoseconds = 0;
  void SetStatus(const std::string& t) override {
    Time([&] { inner_.SetStatus(t); });
  }
  void ClearLog() override {
    Time([&] { inner_.ClearLog(); });
  }
  void AddLogLine(const std::string& l) override {
    Time([&] { inner_.AddLogLine(l); });
  }
  void SetGaugeMax(int m) override {
    Time([&] { inner_.SetGaugeMax(m); });
  }
  void SetGaugeProgress(int p) override {
    Time([&] { inner_.SetGaugeProgress(p); });
  }
  void Pause(int ms) override {
    Time([&] { inner_.Pause(ms); });
  }

 private:
  template <typename Fn>
  void Time(Fn fn) {
    QElapsedTimer clock;
    clock.start();
    fn();
    nanoseconds += clock.nsecsElapsed();
  }
  zelwik::View& inner_;
};

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

  zelwik::app::TForm1 form(std::nullopt, {.pause = [](int) {}, .openDialog = {}, .saveDialog = {}});
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
    clock.restart();
    form.Run({zelwik::ui::Action::Read});
    window.push_back(clock.nsecsElapsed() / 1e6);
  }
  // The share of a window read spent in the window's own view.
  zelwik::app::WindowView view(form.findChild<QLabel*>("StaticText1"),
                               form.findChild<QListWidget*>("ListBox1"),
                               form.findChild<zelwik::app::CGauge*>("CGauge1"), [](int) {});
  std::vector<double> share;
  for (int i = 0; i < runs; ++i) {
    TimedView timed(view);
    zelwik::State state;
    state.ChipType = kOtherChip;
    QElapsedTimer clock;
    clock.start();
    zelwik::ReadChip(state, timed);
    view.Flush();
    share.push_back(100.0 * timed.nanoseconds / clock.nsecsElapsed());
  }
  std::printf("time in the window's view during a read: median %.2f %%\n", Median(share));

  const double c = Median(core), w = Median(window);
  std::printf("32 KiB read, median of %d: no view %.1f ms, window %.1f ms, +%.1f %%\n", runs, c, w,
              100.0 * (w - c) / c);
  return 0;
}
