// The router against a recording shell and view: no toolkit, no port, no sleeping.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "ops/operations.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"
#include "ui/router.h"

namespace zelwik::ui {
namespace {

using testing::RecordingView;
using testing::TempDir;
using Strings = std::vector<std::string>;

// Everything the router asked of its front end, in order, in one list with the view's events.
struct Recorder : RecordingView, Shell {
  Strings calls;
  std::optional<std::string> path;  // what either file dialog answers
  std::function<void()> duringPause;

  void Pause(int ms) override {
    RecordingView::Pause(ms);
    if (duringPause) duringPause();
  }
  void SetChipLabel(const std::string& s) override { calls.push_back("chip label " + s); }
  void SetPortLabel(const std::string& s) override { calls.push_back("port label " + s); }
  std::optional<std::string> AskOpenPath() override { return Ask("open"); }
  std::optional<std::string> AskSavePath() override { return Ask("save"); }
  void StartTimer1() override { calls.push_back("timer on"); }
  void StopTimer1() override { calls.push_back("timer off"); }
  void BeginOperation() override { calls.push_back("begin"); }
  void EndOperation() override { calls.push_back("end"); }
  void Quit() override { calls.push_back("quit"); }
  void ShowFailure(const std::string& what) override { calls.push_back("failure " + what); }
  std::optional<std::string> Ask(const char* which) {
    calls.push_back(which);
    return path;
  }
};

struct RouterTest : ::testing::Test {
  State state;
  Recorder rec;
  Router router{state, rec, rec};
  TempDir dir;
  std::string Hex(const std::string& text) {
    testing::WriteFile(dir / "a.hex", text);
    return dir / "a.hex";
  }
};

TEST_F(RouterTest, StartUpLoadsTheFileAndArmsTimer1Once) {
  state.image.MemoryImage[5] = 0;
  router.Startup(std::nullopt);
  EXPECT_EQ(state.image.MemoryImage[5], 0xFF);
  EXPECT_TRUE(rec.calls.empty() && rec.events.empty());

  router.Startup(Hex(":0100000041BE\r\n:00000001FF\r\n"));
  EXPECT_EQ(rec.calls, Strings{"timer on"});
  EXPECT_EQ(rec.log, Strings{"0000:41" + std::string(30, 'F') + " A" + std::string(15, '\xFF')});
  EXPECT_EQ(rec.LastStatus(), " Odczytano 1 bajtów.");
  router.Timer1Timer();
  EXPECT_EQ(rec.calls, (Strings{"timer on", "timer off"}));
  EXPECT_EQ(rec.LastStatus(), " Gotowy...");
}

// Every chip of the menu and every port only change the choice and its label.
TEST_F(RouterTest, SelectionsChangeStateAndLabelOnly) {
  Strings expected;
  for (const MenuItem& item : MainWindow().menus[3].items) {
    router.Run(item.command);
    EXPECT_EQ(state.ChipType, item.command.arg) << item.name;
    expected.push_back("chip label " + std::string(FindChip(item.command.arg)->label));
  }
  for (const MenuItem& item : MainWindow().menus[4].items) {
    router.Run(item.command);
    EXPECT_EQ(state.PortName, "COM" + std::to_string(item.command.arg));
    expected.push_back("port label " + std::string(item.caption));
  }
  EXPECT_EQ(rec.calls, expected);
  EXPECT_EQ(expected.front(), "chip label Automatycznie");
  EXPECT_TRUE(rec.events.empty());
  EXPECT_FALSE(state.link.IsOpen());
}

// While a load pauses, a second command of any kind is dropped, not queued.
TEST_F(RouterTest, BusyGuardDropsEveryCommandDuringAnOperation) {
  rec.path = Hex(":0100000041BE\r\n:00000001FF\r\n");
  rec.duringPause = [&] {
    EXPECT_TRUE(router.Busy());
    for (Command c : {Command{Action::Save}, Command{Action::Read}, Command{Action::SelectChip, 5},
                      Command{Action::Quit}})
      router.Run(c);
  };
  router.Run({Action::Load});
  EXPECT_FALSE(router.Busy());
  EXPECT_EQ(rec.calls, (Strings{"open", "begin", "end"}));
  EXPECT_EQ(state.ChipType, 0);
  EXPECT_EQ(rec.pauses, std::vector<int>{1000});
  EXPECT_EQ(rec.LastStatus(), " Gotowy...");
}

TEST_F(RouterTest, CancelledDialogsAndAFailedSave) {
  router.Run({Action::Load});
  router.Run({Action::Save});
  EXPECT_TRUE(rec.events.empty());
  rec.path = "/nonexistent/dir/x.hex";
  router.Run({Action::Save});
  EXPECT_EQ(rec.statuses, Strings{" Błąd I/O ..."});  // stands: no " Gotowy..." after it
  EXPECT_EQ(rec.pauses, std::vector<int>{1000});
  EXPECT_EQ(rec.calls, (Strings{"open", "save", "save", "begin", "end"}));
}

// The failure is shown once input is open again, and the next command runs.
TEST_F(RouterTest, AnEscapingExceptionReachesShowFailureAfterTheOperation) {
  struct Throwing : Recorder {
    void SetStatus(const std::string&) override { throw std::runtime_error("no memory"); }
  } shell;
  Router r(state, shell, shell);
  r.Run({Action::Program});
  EXPECT_FALSE(r.Busy());
  r.Run({Action::Quit});
  EXPECT_EQ(shell.calls, (Strings{"begin", "end", "failure no memory", "quit"}));
}

}  // namespace
}  // namespace zelwik::ui
