// A 32 KiB read ("Inny układ") through the window against a programmer on DEVICE, pauses skipped.
// Prints the milliseconds from the click to the operation's end, once per run.
//   QT_QPA_PLATFORM=offscreen window_read_time DEVICE [RUNS]
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "app/main_window.h"
#include "ops/texts.h"

namespace {

// The window sits idle this long before the first click and between two: whatever it started at
// its construction has come in and been handled by then.
constexpr int kIdleBeforeClickMs = 500;

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_read_time DEVICE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  qputenv("ZELWIK_COM2", argv[1]);

  zelwik::app::MainForm form(std::nullopt, {.pause = [](int) {}});
  form.show();
  form.Run({zelwik::ui::Action::SelectChip, zelwik::ToInt(zelwik::ChipCode::Other)});

  // The click comes from the event loop, as a person's does, to a window that waited for it
  // blocked in that loop; the end is the window's own signal, taken in that loop too.
  int done = 0;
  int status = 0;
  QElapsedTimer clock;
  QObject::connect(&form, &zelwik::app::MainForm::operationEnded, &app, [&] {
    const double ms = clock.nsecsElapsed() / 1e6;
    const QLabel* text = form.findChild<QLabel*>("statusLine");
    if (form.state().image.ImageEnd < 0 || !text || text->text() != zelwik::kTextReady) {
      std::fprintf(stderr, "window_read_time: the read did not complete\n");
      status = 1;
      app.quit();
      return;
    }
    std::printf("%.3f\n", ms);
    std::fflush(stdout);
    if (++done == runs)
      app.quit();
    else
      QTimer::singleShot(kIdleBeforeClickMs, &app, [&] {
        clock.start();
        form.Run({zelwik::ui::Action::Read});
      });
  });
  QTimer::singleShot(kIdleBeforeClickMs, &app, [&] {
    clock.start();
    form.Run({zelwik::ui::Action::Read});
  });
  app.exec();
  return status;
}
