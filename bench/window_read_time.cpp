// A 32 KiB read ("Inny układ") through the window against a programmer on DEVICE, pauses skipped.
// Prints the milliseconds from the click to the handler's return, once per run.
//   QT_QPA_PLATFORM=offscreen window_read_time DEVICE [RUNS]
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "ops/texts.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_read_time DEVICE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  qputenv("ZELWIK_COM2", argv[1]);

  zelwik::app::TForm1 form(std::nullopt, {.pause = [](int) {}, .openDialog = {}, .saveDialog = {}});
  form.show();
  form.Run({zelwik::ui::Action::SelectChip, zelwik::ToInt(zelwik::ChipCode::Other)});
  // The window is on screen and idle before a person can click: whatever it started at its
  // construction has come in and been handled, which a single processEvents() does not promise.
  QElapsedTimer settling;
  settling.start();
  while (settling.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 50);

  for (int i = 0; i < runs; ++i) {
    QElapsedTimer clock;
    clock.start();
    form.Run({zelwik::ui::Action::Read});
    const double ms = clock.nsecsElapsed() / 1e6;
    const QLabel* status = form.findChild<QLabel*>("StaticText1");
    if (form.state().image.ImageEnd < 0 || !status || status->text() != zelwik::kTextReady) {
      std::fprintf(stderr, "window_read_time: the read did not complete\n");
      return 1;
    }
    std::printf("%.3f\n", ms);
    std::fflush(stdout);
    QApplication::processEvents();
  }
  return 0;
}
