// The router and its operation runner against a recording front end; the test's thread plays the
// window's thread. No toolkit, no port, no sleeping through pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>

#include "ops/operations.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"
#include "ui/router.h"

namespace zelwik::ui {
namespace {

using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

// Everything the window's thread was asked to do, in order. Wake() is the one call from the
// worker.
struct Front : Screen, Shell {
  Strings shown;
  int gauges = 0;
  std::pair<int, int> gauge{-1, -1};
  std::optional<std::string> path;

  std::mutex mutex;
  std::condition_variable woken;
  bool wake = false;

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
    woken.notify_all();
  }
  void OperationEnded() override { shown.push_back("ended"); }
  void Quit() override { shown.push_back("quit"); }
  void ShowFailure(const std::string& what) override { shown.push_back("failure " + what); }

  // The window's event loop: drains at every wake until `done` holds.
  template <typename Drain>
  void Loop(Drain drain, const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "the operation never ended";
      {
        std::unique_lock lock(mutex);
        woken.wait_for(lock, 5ms, [&] { return wake; });
        wake = false;
      }
      drain();
    }
  }
};

// A pause that holds the worker until the test opens it.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool entered = false, open = false;
  void Hold() {
    std::unique_lock lock(mutex);
    entered = true;
    cv.notify_all();
    cv.wait(lock, [&] { return open; });
  }
  bool Entered() {
    const std::lock_guard lock(mutex);
    return entered;
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
  Gate gate;
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
  const auto& entries = router.ListPorts();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].caption, "ttyACM0 (Łódź board)");
  EXPECT_EQ(entries[1].caption,
            "ttyUSB1 (A&&B?"
            "?(?"
            "?)");
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
  for (Action a : {Action::Save, Action::Read, Action::Load, Action::SelectChip, Action::Quit})
    router.Run({a, 5});
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
      front, cancel, [&] { front.Wake(); }, [&](int) { atPause = front.shown; });
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

}  // namespace
}  // namespace zelwik::ui
