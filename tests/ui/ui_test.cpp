// The router and its operation runner against a recording front end; the test's thread plays the
// window's thread. No toolkit, no port, no sleeping through pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>

#include "ops/operations.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"
#include "ui/glyphs.h"
#include "ui/router.h"

namespace zelwik::ui {
namespace {

using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

// Everything the window's thread was asked to do, in order. Wake() is the one call from the
// worker.
struct Front : Screen, Shell {
  using Clock = std::chrono::steady_clock;
  Strings shown;
  int gauges = 0;
  std::pair<int, int> gauge{-1, -1};
  std::optional<std::string> path;
  std::optional<Clock::time_point> drainAt;  // the window's single-shot timer

  std::mutex mutex;
  std::condition_variable woken;
  bool wake = false;
  int wakes = 0;

  void ShowStatus(const std::string& s) override { shown.push_back("status " + s); }
  void ClearLog() override { shown.push_back("clear"); }
  void AddLogLine(const std::string& s) override { shown.push_back("line " + s); }
  void ShowGauge(int max, int position) override {
    ++gauges;
    gauge = {max, position};
  }
  void SetChipLabel(const std::string& s) override { shown.push_back("chip " + s); }
  void SetPortLabel(const std::string& s) override { shown.push_back("port " + s); }
  std::optional<std::string> AskOpenPath() override { return shown.push_back("open"), path; }
  std::optional<std::string> AskSavePath() override { return shown.push_back("save"), path; }
  void StartReadyTimer() override { shown.push_back("timer on"); }
  void StopReadyTimer() override { shown.push_back("timer off"); }
  void Wake() override {
    const std::lock_guard lock(mutex);
    wake = true;
    ++wakes;
    woken.notify_all();
  }
  void DrainAfter(std::chrono::milliseconds after) override { drainAt = Clock::now() + after; }
  void OperationEnded() override { shown.push_back("ended"); }
  void Quit() override { shown.push_back("quit"); }
  void ShowFailure(const std::string& what) override { shown.push_back("failure " + what); }

  // The window's event loop: drains at a wake or when the timer is due, and at nothing else,
  // until `done` holds; false when that takes 10 s.
  template <typename Drain>
  bool Loop(Drain drain, const std::function<bool()>& done) {
    const auto giveUp = Clock::now() + 10s;
    while (!done()) {
      {
        std::unique_lock lock(mutex);
        woken.wait_until(lock, drainAt ? std::min(*drainAt, giveUp) : giveUp, [&] { return wake; });
        const auto now = Clock::now();
        if (now >= giveUp) {
          ADD_FAILURE() << (wake || drainAt ? "the operation never ended"
                                            : "the window was left waiting");
          return false;
        }
        if (drainAt && now >= *drainAt) drainAt.reset();
        wake = false;
      }
      drain();
    }
    return true;
  }
};

// Holds the worker until the test opens it; the window's thread, when given, is woken to see it
// held.
struct Gate {
  explicit Gate(Front* f) : front(f) {}
  Front* front;
  std::mutex mutex;
  std::condition_variable cv;
  bool entered = false, open = false;
  void Hold() {
    std::unique_lock lock(mutex);
    entered = true;
    cv.notify_all();
    if (front) front->Wake();
    cv.wait(lock, [&] { return open; });
  }
  bool Entered() {
    const std::lock_guard lock(mutex);
    return entered;
  }
  void WaitEntered() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return entered; });
  }
  void Open() {
    const std::lock_guard lock(mutex);
    open = true;
    cv.notify_all();
  }
};

struct RouterTest : ::testing::Test {
  State state;
  Front front;
  std::vector<int> pauses;
  Gate gate{&front};
  bool hold = false, fail = false;
  Router router{state, front, front, [this](int ms) {
                  pauses.push_back(ms);
                  if (fail) throw std::runtime_error("no memory");
                  if (hold) gate.Hold();
                }};
  testing::TempDir dir;
  std::string hex = dir / "a.hex";
  const std::string line = "line 0000:41" + std::string(30, 'F') + " A" + std::string(15, '\xFF');
  // What the listing ends with after a load: the CRC-32 of the one byte 0x41.
  const std::string crc = "line  Suma CRC-32 (0000-0000): D3D99E8B";
  void SetUp() override { testing::WriteFile(hex, ":0100000041BE\r\n:00000001FF\r\n"); }
  void RunToEnd() {
    front.Loop([&] { router.Drain(); }, [&] { return !router.Busy(); });
  }
  void RunToPause() {
    front.Loop([&] { router.Drain(); }, [&] { return gate.Entered(); });
  }
};

// Start-up returns with the load on the screen; a file that cannot be read still arms the timer.
TEST_F(RouterTest, StartUpLoadsTheFileBeforeReturningAndArmsTheReadyTimer) {
  state.image.MemoryImage[5] = 0;
  router.Startup(std::nullopt);
  EXPECT_TRUE(state.image.MemoryImage[5] == 0xFF && front.shown.empty());
  router.Startup(dir / "missing.hex");
  EXPECT_EQ(pauses, std::vector<int>{1500});
  router.Startup(hex);
  EXPECT_FALSE(router.Busy());
  router.ReadyTimerDue();
  EXPECT_EQ(front.shown, (Strings{"clear", "status  Błąd I/O ...", "status  Odczytano 0 bajtów.",
                                  "ended", "timer on", "clear", line, "status  Odczytano 1 bajtów.",
                                  crc, "ended", "timer on", "status  Gotowy...", "timer off"}));
}

// Every chip of the menu and every port change only the choice and its label.
TEST_F(RouterTest, SelectionsChangeStateAndLabelOnly) {
  Strings expected;
  for (const MenuItem& item : MainWindow().menus[3].items) {
    router.Run(item.command);
    EXPECT_EQ(state.ChipType, item.command.arg) << item.name;
    expected.push_back("chip " + std::string(FindChip(item.command.arg)->label));
  }
  router.Run({Action::SelectChip, 999});  // no such chip (a stale setting): no label, no crash
  expected.push_back("chip ");
  for (const MenuItem& item : MainWindow().menus[4].items) {
    router.Run(item.command);
    EXPECT_EQ(state.PortName, "COM" + std::to_string(item.command.arg));
    expected.push_back("port " + std::string(item.caption));
  }
  EXPECT_EQ(front.shown, expected);
  EXPECT_FALSE(router.Busy() || state.link.IsOpen());
}

// The ports below COM1 ... COM5: what a system's names hold reaches the menu as plain text, the
// label shows the short name, a choice from an older listing than the last does nothing.
TEST_F(RouterTest, ListedPortsAreChosenByTheirIndexInTheLastListing) {
  testing::FakePorts system;
  system.Tty("ttyUSB1", "usb1/1-2/1-2:1.0/ttyUSB1", "ftdi_sio");
  system.Usb("usb1/1-2", "0403:6015", "", "A&B\x01\xC3(\xE2\x82");
  system.Tty("ttyACM0", "usb1/1-1/1-1:1.0/tty/ttyACM0", "cdc_acm");
  system.Usb("usb1/1-1", "2341:0043", "", "Łódź board");
  router.SetPortListRoots(system.Roots());
  Strings captions;
  for (const auto& entry : router.ListPorts()) captions.push_back(entry.caption);
  EXPECT_EQ(captions, (Strings{"ttyACM0 (Łódź board)", "ttyUSB1 (A&&B?\?(?\?)"}));
  router.Run({Action::SelectListedPort, 1});
  EXPECT_EQ(state.PortName, system.Root("dev/ttyUSB1"));
  router.Run({Action::SelectListedPort, 2});
  router.Run({Action::SelectListedPort, -1});
  EXPECT_EQ(front.shown, Strings{"port ttyUSB1"});
  router.SetPortListRoots({dir / "none", dir / "none", dir / "none", dir / "none"});
  EXPECT_TRUE(router.ListPorts().empty());
  router.Run({Action::SelectListedPort, 0});
  EXPECT_EQ(front.shown.size(), 1u);
}

// While a load pauses, every command is dropped, not queued, and a ready-timer tick waits for the
// end: the load's count stays on the screen for its whole pause.
TEST_F(RouterTest, DuringAnOperationCommandsAreDroppedAndTheReadyTimerWaitsForItsEnd) {
  router.Startup(hex);
  front.shown.clear();
  front.path = hex;
  hold = true;
  router.Run({Action::Load});
  RunToPause();
  for (Command c : {Command{Action::Save}, Operation("read"), Command{Action::Load},
                    Command{Action::SelectChip, 5}, Command{Action::Quit}})
    router.Run(c);
  router.ReadyTimerDue();
  EXPECT_EQ(front.shown.back(), crc);
  gate.Open();
  RunToEnd();
  EXPECT_EQ(state.ChipType, 0);
  EXPECT_EQ(front.shown, (Strings{"open", "clear", line, "status  Odczytano 1 bajtów.", crc,
                                  "status  Gotowy...", "ended", "status  Gotowy...", "timer off"}));
}

// Lines arrive whole and in order with the texts around them; a gauge that moves on every byte
// reaches the screen a few times with its last value, and a pause starts once the text before it
// is on the screen.
TEST(OperationRunner, DeliversInOrderCoalescesTheGaugeAndPausesAfterShowing) {
  Front front;
  CancelToken cancel;
  Strings atPause;
  OperationRunner runner(
      front, cancel, [&] { front.Wake(); }, [&](int) { atPause = front.shown; },
      [&](std::chrono::milliseconds after) { front.DrainAfter(after); });
  Strings expected;
  runner.Start(
      [&](View& v) {
        v.SetStatus("a");
        v.SetGaugeMax(99999);
        for (int i = 0; i < 100000; ++i) {
          v.SetGaugeProgress(i);
          if (i % 1000 == 0) v.AddLogLine(std::to_string(i));
        }
        v.SetStatus("b");
        v.Pause(1500);
        v.ClearLog();
      },
      [&](const std::optional<std::string>& failure) {
        front.shown.push_back(failure ? *failure : "done");
      });
  expected.push_back("status a");
  for (int i = 0; i < 100000; i += 1000) expected.push_back("line " + std::to_string(i));
  expected.push_back("status b");
  front.Loop([&] { runner.Drain(); }, [&] { return !runner.Busy(); });
  EXPECT_EQ(atPause, expected);
  expected.insert(expected.end(), {"clear", "done"});
  EXPECT_EQ(front.shown, expected);
  EXPECT_EQ(front.gauge, std::make_pair(99999, 99999));
  EXPECT_LT(front.gauges, 200);
}

// Texts queued before the window's thread drains wake it once. Positions posted within a frame of
// the window drawing the gauge wake nobody, and the last is drawn at the frame's end even though
// the operation then blocks (an erase, a silent programmer) and posts nothing more; once the gauge
// stands still the frames stop, and the next position wakes the window again.
TEST(OperationRunner, TheLastPositionIsDrawnWhileTheOperationBlocks) {
  Front front;
  CancelToken cancel;
  Gate queued{nullptr}, gate{nullptr}, again{nullptr};  // block as a link waits: silently
  OperationRunner runner(
      front, cancel, [&] { front.Wake(); }, {},
      [&](std::chrono::milliseconds after) { front.DrainAfter(after); });
  runner.Start(
      [&](View& v) {
        v.SetStatus("a");
        v.AddLogLine("b");
        v.SetStatus("c");
        queued.Hold();
        v.SetGaugeMax(1000);
        v.Pause(0);  // returns once the bar is on the screen
        for (int i = 1; i <= 1000; ++i) v.SetGaugeProgress(i);
        gate.Hold();
        v.SetGaugeProgress(7);
        again.Hold();
      },
      {});
  auto drain = [&] { runner.Drain(); };
  queued.WaitEntered();
  EXPECT_EQ(front.wakes, 1);
  queued.Open();
  const bool range = front.Loop(drain, [&] { return front.gauge.first == 1000; });
  gate.WaitEntered();  // the test's thread, not the window's: nothing is drawn meanwhile
  EXPECT_FALSE(front.wake);
  const bool last = front.Loop(drain, [&] { return front.gauge.second == 1000; });
  const bool stopped = front.Loop(drain, [&] { return !front.drainAt; });
  gate.Open();
  const bool moved = front.Loop(drain, [&] { return front.gauge.second == 7; });
  again.Open();
  EXPECT_TRUE(range && last && stopped && moved);
  EXPECT_EQ(front.gauges, 3);
  EXPECT_EQ(front.shown, (Strings{"status a", "line b", "status c"}));
  front.Loop(drain, [&] { return !runner.Busy(); });
}

// Esc ends a pause at once; Esc when idle leaves the next operation alone. A runner destroyed
// while its operation pauses stops it without showing anything more.
TEST(OperationRunner, CancelEndsAPauseAndDestructionStopsTheOperation) {
  Front front;
  CancelToken cancel;
  const auto started = std::chrono::steady_clock::now();
  {
    OperationRunner runner(front, cancel, [&] { front.Wake(); });
    runner.Cancel();
    EXPECT_FALSE(cancel.Requested());
    bool requested = true;
    runner.Start(
        [&](View& v) {
          requested = cancel.Requested();
          v.SetStatus("waiting");
          v.Pause(60000);
          v.SetStatus("after");
        },
        {});
    front.Loop([&] { runner.Drain(); },
               [&] { return !front.shown.empty() && front.shown.back() == "status waiting"; });
    runner.Cancel();
    front.Loop([&] { runner.Drain(); }, [&] { return !runner.Busy(); });
    EXPECT_FALSE(requested);
    EXPECT_EQ(front.shown, (Strings{"status waiting", "status after"}));

    runner.Start([](View& v) { v.Pause(60000), v.SetStatus("never shown"); }, {});
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
  EXPECT_TRUE(cancel.Requested());
  EXPECT_EQ(front.shown.size(), 2u);
}

// The failure is shown once the operation has ended, and the next command runs.
TEST_F(RouterTest, AnEscapingExceptionIsShownAfterTheOperation) {
  fail = true;
  front.path = hex;
  router.Run({Action::Load});
  RunToEnd();
  router.Run({Action::Quit});
  EXPECT_EQ(front.shown, (Strings{"open", "clear", line, "status  Odczytano 1 bajtów.", crc,
                                  "ended", "failure no memory", "quit"}));
}

// The front ends and their tests find elements and menu items by name, the chip menu offers every
// chip, and every tool button shows a picture of its own.
TEST(WindowDescription, NamesAreUniqueAndEveryPictureIsSeen) {
  std::set<std::string> names;
  std::set<GlyphPixels> pictures;
  for (const Element& e : MainWindow().elements) {
    ASSERT_TRUE(e.name && *e.name);
    EXPECT_TRUE(names.insert(e.name).second) << e.name;
    if (e.kind != ElementKind::ToolButton) continue;
    const GlyphPixels pixels = GlyphImage(e.glyph);
    EXPECT_GT(std::count_if(pixels.begin(), pixels.end(), [](auto p) { return p >> 24; }), 32);
    pictures.insert(pixels);
  }
  EXPECT_EQ(pictures.size(), 5u);
  Strings chips;
  for (const MenuItem& item : MainWindow().menus[3].items) chips.push_back(item.caption);
  EXPECT_EQ(chips, (Strings{"Automatycznie", "  89C51 ", "  89C52 ", "  89C55", "  89C1051",
                            "  89C2051", "  89C4051", "  Inny układ"}));
  for (const Menu& menu : MainWindow().menus)
    for (const MenuItem& item : menu.items) {
      ASSERT_TRUE(item.name && *item.name);
      EXPECT_TRUE(names.insert(item.name).second) << item.name;
    }
}

// A disabled button's picture keeps its transparent pixels and shows the rest in two greys.
TEST(Glyphs, GreyKeepsTransparencyAndSplitsDarkFromLight) {
  GlyphPixels normal{};
  normal[1] = 0xFF000080u;
  normal[2] = 0xFFFFFF00u;
  const GlyphPixels grey = GreyGlyph(normal);
  EXPECT_EQ(std::vector(grey.begin(), grey.begin() + 4),
            (std::vector<std::uint32_t>{0, 0xFF808080u, 0xFFC0C0C0u, 0}));
}

}  // namespace
}  // namespace zelwik::ui
