// The router against a recording shell and view: no toolkit, no port, no sleeping.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "ops/operations.h"
#include "support/fake_ports.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"
#include "ui/router.h"

namespace zelwik::ui {
namespace {

using Strings = std::vector<std::string>;

// What the router asked of its front end, in order; both file dialogs answer `path`.
struct Recorder : testing::RecordingView, Shell {
  Strings calls;
  std::optional<std::string> path;
  std::function<void()> duringPause;

  void Pause(int ms) override {
    RecordingView::Pause(ms);
    if (duringPause) duringPause();
  }
  void SetChipLabel(const std::string& s) override { calls.push_back("chip " + s); }
  void SetPortLabel(const std::string& s) override { calls.push_back("port " + s); }
  std::optional<std::string> AskOpenPath() override { return calls.push_back("open"), path; }
  std::optional<std::string> AskSavePath() override { return calls.push_back("save"), path; }
  void StartTimer1() override { calls.push_back("timer on"); }
  void StopTimer1() override { calls.push_back("timer off"); }
  void BeginOperation() override { calls.push_back("begin"); }
  void EndOperation() override { calls.push_back("end"); }
  void Quit() override { calls.push_back("quit"); }
  void ShowFailure(const std::string& what) override { calls.push_back("failure " + what); }
};

struct RouterTest : ::testing::Test {
  State state;
  Recorder rec;
  Router router{state, rec, rec};
  testing::TempDir dir;
  std::string hex = dir / "a.hex";
  void SetUp() override { testing::WriteFile(hex, ":0100000041BE\r\n:00000001FF\r\n"); }
};

// A file that cannot be read still arms the timer, as a loaded one does; none arms nothing.
TEST_F(RouterTest, StartUpLoadsTheFileAndArmsTimer1) {
  state.image.MemoryImage[5] = 0;
  router.Startup(std::nullopt);
  EXPECT_TRUE(state.image.MemoryImage[5] == 0xFF && rec.calls.empty() && rec.events.empty());
  router.Startup(dir / "missing.hex");
  EXPECT_EQ(rec.pauses, std::vector<int>{1500});
  router.Startup(hex);
  EXPECT_EQ(rec.log, Strings{"0000:41" + std::string(30, 'F') + " A" + std::string(15, '\xFF')});
  router.Timer1Timer();
  EXPECT_EQ(rec.calls, (Strings{"timer on", "timer on", "timer off"}));
  EXPECT_EQ(rec.statuses, (Strings{" Błąd I/O ...", " Odczytano 0 bajtów.", " Odczytano 1 bajtów.",
                                   " Gotowy..."}));
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
  EXPECT_EQ(rec.calls, expected);
  EXPECT_TRUE(rec.events.empty() && !state.link.IsOpen());
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
  EXPECT_EQ(rec.calls, Strings{"port ttyUSB1"});
  router.SetPortListRoots({dir / "none", dir / "none", dir / "none", dir / "none"});
  EXPECT_TRUE(router.ListPorts().empty());
  router.Run({Action::SelectListedPort, 0});
  EXPECT_EQ(rec.calls.size(), 1u);
}

// While a load pauses, any second command is dropped, not queued. Cancelled dialogs do nothing;
// a failed save keeps its message.
TEST_F(RouterTest, OneCommandAtATimeAndTheFileCommands) {
  rec.duringPause = [&] {
    for (Action a : {Action::Save, Action::Read, Action::SelectChip, Action::Quit}) router.Run({a});
  };
  router.Run({Action::Load});
  rec.path = hex;
  router.Run({Action::Load});
  rec.duringPause = nullptr;
  rec.path = dir / "no/such/dir.hex";
  router.Run({Action::Save});
  EXPECT_FALSE(router.Busy());
  EXPECT_EQ(rec.calls, (Strings{"open", "open", "begin", "end", "save", "begin", "end"}));
  EXPECT_EQ(rec.statuses, (Strings{" Odczytano 1 bajtów.", " Gotowy...", " Błąd I/O ..."}));
  EXPECT_EQ(rec.pauses, (std::vector<int>{1000, 1000}));
}

// The failure is shown once the operation has ended, and the next command runs.
TEST_F(RouterTest, AnEscapingExceptionReachesShowFailureAfterTheOperation) {
  struct Throwing : Recorder {
    void SetStatus(const std::string&) override { throw std::runtime_error("no memory"); }
  } shell;
  Router r(state, shell, shell);
  r.Run({Action::Program});
  r.Run({Action::Quit});
  EXPECT_EQ(shell.calls, (Strings{"begin", "end", "failure no memory", "quit"}));
}

}  // namespace
}  // namespace zelwik::ui
