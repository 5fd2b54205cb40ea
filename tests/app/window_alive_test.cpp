// The window on a real X server (xvfb-run): during an operation it answers the window manager's
// pings. A second X connection on a thread of its own plays the window manager. (That the input
// is dropped meanwhile is app_test's: the same filter sees X's events and the test's.)
#include <poll.h>
#include <xcb/xcb.h>

#include <QTest>
#include <QtWidgets>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/main_window.h"
#include "ops/operations.h"
#include "support/sim_harness.h"

using namespace zelwik;
using namespace zelwik::app;
using namespace zelwik::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPingEvery = std::chrono::milliseconds(200);

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

// What a window manager and a user do to the window, from outside the program.
class Desktop {
 public:
  explicit Desktop(xcb_window_t window) : window_(window) {
    c_ = xcb_connect(nullptr, nullptr);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    protocols_ = Atom(c_, "WM_PROTOCOLS");
    ping_ = Atom(c_, "_NET_WM_PING");
    // The answer to a ping goes to the root window, where a window manager listens.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c_);
  }
  ~Desktop() { xcb_disconnect(c_); }
  // Sends a ping and waits for its answer until the next one is due: the milliseconds it took,
  // or -1 when none came.
  int Ping(uint32_t stamp) {
    const xcb_client_message_event_t ping{.response_type = XCB_CLIENT_MESSAGE,
                                          .format = 32,
                                          .sequence = 0,
                                          .window = window_,
                                          .type = protocols_,
                                          .data = {.data32 = {ping_, stamp, window_}}};
    const auto sent = Clock::now(), due = sent + kPingEvery;
    char buffer[32] = {};
    std::memcpy(buffer, &ping, sizeof ping);
    xcb_send_event(c_, 0, window_, XCB_EVENT_MASK_NO_EVENT, buffer);
    xcb_flush(c_);
    int answeredMs = -1;
    for (auto now = sent; now < due; now = Clock::now()) {
      while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
        const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
        if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE && m->window == root_ &&
            m->data.data32[0] == ping_ && m->data.data32[1] == stamp && answeredMs < 0)
          answeredMs = static_cast<int>((now - sent) / std::chrono::milliseconds(1));
        std::free(e);
      }
      pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
      poll(&fd, 1,
           static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
    }
    return answeredMs;
  }

 private:
  xcb_connection_t* c_;
  xcb_window_t window_;
  xcb_window_t root_;
  xcb_atom_t protocols_;
  xcb_atom_t ping_;
};

}  // namespace

class WindowAliveTest : public QObject {
  Q_OBJECT

  // Reads an 89C4051 in a shown window against `sim`, pinged every 200 ms from the click to the
  // operation's end: every ping is answered within 100 ms, and the read ends ready.
  void PingedRead(SimHarness& sim, std::function<void(int)> pause) {
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    MainForm form(std::nullopt, {.pause = std::move(pause)});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.findChild<QAction*>("N89C40511")->trigger();
    Desktop desktop(form.winId());
    std::atomic<bool> running = true;
    std::vector<int> answers;
    std::thread wm([&] {
      for (uint32_t stamp = 1; running; ++stamp) answers.push_back(desktop.Ping(stamp));
    });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(form.findChild<QToolButton*>("readButton"), Qt::LeftButton);
    while (form.Busy() && clock.elapsed() < 30000) QTest::qWait(5);
    took_ = clock.elapsed();
    running = false;
    wm.join();
    QString latencies;
    for (int ms : answers) latencies += QString::number(ms) + ' ';
    QVERIFY(qint64(answers.size()) >= took_ / kPingEvery.count());
    QVERIFY2(
        std::all_of(answers.begin(), answers.end(), [](int ms) { return ms >= 0 && ms <= 100; }),
        qPrintable(latencies));
    QCOMPARE(form.findChild<QLabel*>("statusLine")->text(), QString(" Gotowy..."));
  }
  qint64 took_ = 0;

 private slots:
  void init() {
    if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X server");
  }

  // A 4 KiB read on a 115,200 baud wire (about 2 s), then its pause.
  void answersPingsDuringAReadAndItsPause() {
    SimHarness sim(sim::SimChip::C4051, {}, 115200);
    std::vector<int> pauses;
    PingedRead(sim, [&](int ms) {
      pauses.push_back(ms);
      std::this_thread::sleep_for(std::chrono::milliseconds(ms / 5));
    });
    QCOMPARE(pauses, std::vector<int>{1500});
    QVERIFY2(took_ > 1500, qPrintable(QString::number(took_)));
  }

  // A programmer that falls silent mid-read: the link waits out its 2 s bound.
  void answersPingsWhileTheLinkWaitsOutASilentProgrammer() {
    sim::Faults silent;
    silent.stopAfterFrames = 200;
    SimHarness sim(sim::SimChip::C4051, silent);
    PingedRead(sim, [](int) {});
    QVERIFY2(took_ >= kDefaultReplyTimeoutMs, qPrintable(QString::number(took_)));
  }
};

QTEST_MAIN(WindowAliveTest)
#include "window_alive_test.moc"
