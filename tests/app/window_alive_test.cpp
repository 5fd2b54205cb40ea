// The window on a real X server (xvfb-run): during an operation it answers the window manager's
// pings and drops the user's input. A second X connection on a thread of its own plays the window
// manager and the user, from outside the program.
#include <poll.h>
#include <xcb/xcb.h>

#include <QTest>
#include <QtWidgets>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "app/main_window.h"
#include "ops/operations.h"
#include "support/recording_view.h"
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
    Send(ping);
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

  // A press and its release as the server delivers them to the window's owner: button 1 at a
  // point of the window, or Alt+P (opens the "&Plik" menu of an idle window; P is key 33 in
  // Xvfb's keymap).
  void Click(QPoint at) { Press(XCB_BUTTON_PRESS, 1, at, 0); }
  void AltP() { Press(XCB_KEY_PRESS, 33, {}, XCB_MOD_MASK_1); }

 private:
  void Press(uint8_t type, uint8_t detail, QPoint at, uint16_t state) {
    xcb_key_press_event_t e{};  // a button event has the same layout
    e.response_type = type;
    e.detail = detail;
    e.time = ++time_;
    e.root = root_;
    e.event = window_;
    e.event_x = e.root_x = static_cast<int16_t>(at.x());
    e.event_y = e.root_y = static_cast<int16_t>(at.y());
    e.state = state;
    e.same_screen = 1;
    Send(e);
    e.response_type = type + 1;  // the release
    e.time = ++time_;
    if (type == XCB_BUTTON_PRESS) e.state |= XCB_BUTTON_MASK_1;
    Send(e);
  }

  template <typename Event>
  void Send(const Event& e) {
    char buffer[32] = {};
    std::memcpy(buffer, &e, sizeof e);
    xcb_send_event(c_, 0, window_, XCB_EVENT_MASK_NO_EVENT, buffer);
    xcb_flush(c_);
  }

  xcb_connection_t* c_;
  xcb_window_t window_;
  xcb_window_t root_;
  xcb_atom_t protocols_;
  xcb_atom_t ping_;
  uint32_t time_ = 1;
};

}  // namespace

class WindowAliveTest : public QObject {
  Q_OBJECT

  // Runs the command in a shown window against the simulator, pinged every 200 ms from the start
  // to the end of the operation; `during` runs on the pinging thread after the third ping. The
  // milliseconds of every answer (-1: none came).
  std::vector<int> PingedDuring(MainForm& form, const char* command,
                                const std::function<void(Desktop&)>& during = {}) {
    Desktop desktop(form.winId());
    std::atomic<bool> running = true;
    std::vector<int> answers;
    std::thread wm([&] {
      for (uint32_t stamp = 1; running; ++stamp) {
        answers.push_back(desktop.Ping(stamp));
        if (stamp == 3 && during) during(desktop);
      }
    });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(form.findChild<QToolButton*>(command), Qt::LeftButton);
    QElapsedTimer bound;
    bound.start();
    while (form.Busy() && bound.elapsed() < 30000) QTest::qWait(5);
    took_ = clock.elapsed();
    running = false;
    wm.join();
    return answers;
  }
  static QString Latencies(const std::vector<int>& answers) {
    QString text;
    for (int ms : answers) text += QString::number(ms) + ' ';
    return text;
  }
  static bool AllWithin(const std::vector<int>& answers, int ms) {
    return std::all_of(answers.begin(), answers.end(), [ms](int a) { return a >= 0 && a <= ms; });
  }
  qint64 took_ = 0;

 private slots:
  // A 4 KiB read on a 115,200 baud wire (about 2 s), then its pause, pinged every 200 ms. A click
  // on a tool button and Alt+P come half a second in; neither has any effect, then or later, and
  // the frames are those of the read alone.
  void answersPingsAndDropsInputDuringAnOperation() {
    if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X server");
    SimHarness sim(sim::SimChip::C4051, {}, 115200), direct(sim::SimChip::C4051);
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    std::vector<int> pauses;
    int saveAsked = 0;
    MainForm form(std::nullopt,
                  {.pause =
                       [&](int ms) {
                         pauses.push_back(ms);
                         std::this_thread::sleep_for(std::chrono::milliseconds(ms / 5));
                       },
                   .openDialog = {},
                   .saveDialog = [&]() -> std::optional<std::string> {
                     ++saveAsked;
                     return std::nullopt;
                   },
                   .status = {}});
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.findChild<QAction*>("N89C40511")->trigger();
    auto* save = form.findChild<QToolButton*>("saveButton");
    const QPoint saveAt = save->mapTo(&form, save->rect().center());

    // The input reaches an idle window: the menu opens, the button asks for a file.
    {
      Desktop desktop(form.winId());
      desktop.AltP();
      QTRY_VERIFY(QApplication::activePopupWidget());
      QApplication::activePopupWidget()->close();
      desktop.Click(saveAt);
      QTRY_COMPARE(saveAsked, 1);
    }

    const std::vector<int> answers = PingedDuring(form, "readButton", [&](Desktop& desktop) {
      desktop.Click(saveAt);
      desktop.AltP();
    });
    State state{{}, form.state().ChipType, direct.Path(), {}, {}};
    RecordingView recorded;
    ReadChip(state, recorded);
    QCOMPARE(FramesText(sim.Frames()), FramesText(direct.Frames()));
    QCOMPARE(pauses, std::vector<int>{1500});
    QVERIFY2(took_ > 1500, qPrintable(QString::number(took_)));
    QVERIFY(qint64(answers.size()) >= took_ / kPingEvery.count());
    QVERIFY2(AllWithin(answers, 100), qPrintable(Latencies(answers)));
    QTest::qWait(100);
    QCOMPARE(saveAsked, 1);
    QVERIFY(!QApplication::activePopupWidget());
  }

  // A programmer that falls silent mid-read: the link waits out its 2 s bound, and the window
  // answers every ping within 100 ms all the while.
  void answersPingsWhileTheLinkWaitsOutASilentProgrammer() {
    if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X server");
    sim::Faults silent;
    silent.stopAfterFrames = 200;
    SimHarness sim(sim::SimChip::C4051, silent);
    qputenv("ZELWIK_COM2", QByteArray::fromStdString(sim.Path()));
    MainForm form(std::nullopt,
                  {.pause = [](int) {}, .openDialog = {}, .saveDialog = {}, .status = {}});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const std::vector<int> answers = PingedDuring(form, "readButton");
    QVERIFY2(took_ >= kDefaultReplyTimeoutMs, qPrintable(QString::number(took_)));
    QCOMPARE(form.findChild<QLabel*>("statusLine")->text(), QString(" Gotowy..."));
    QVERIFY(qint64(answers.size()) >= took_ / kPingEvery.count());
    QVERIFY2(AllWithin(answers, 100), qPrintable(Latencies(answers)));
  }
};

QTEST_MAIN(WindowAliveTest)
#include "window_alive_test.moc"
