// The operations and the command line as the Windows build compiles them: the link runs on the
// programmer model in process, the command line on the Win32 port.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "cli/command_line.h"
#include "ops/hex_files.h"
#include "ops/operations.h"
#include "ops/texts.h"
#include "sim/device_model.h"
#include "support/recording_view.h"

namespace zelwik {
namespace {

using sim::DeviceModel;
using sim::SimChip;

// Hands every frame to the model at once; its replies wait in a queue as on a serial line.
class ModelPort final : public SerialPort {
 public:
  explicit ModelPort(DeviceModel& model) : model_(model) {}
  bool Open(const std::string&, std::string&, int&) override { return open_ = true; }
  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (size != 4) return false;
    for (std::uint8_t b : model_.HandleFrame({data[0], data[1], data[2], data[3]})) {
      replies_.push_back(b);
    }
    return true;
  }
  int BytesWaiting() override { return static_cast<int>(replies_.size() - next_); }
  int ReadByte(int) override { return next_ < replies_.size() ? replies_[next_++] : kTimeout; }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  void PollPause() override {}

 private:
  DeviceModel& model_;
  std::vector<std::uint8_t> replies_;
  std::size_t next_ = 0;
  bool open_ = false;
};

std::unique_ptr<State> StateOn(DeviceModel& model) {
  return std::unique_ptr<State>(new State{{}, 0, "COM7", Link(std::make_unique<ModelPort>(model))});
}

struct ChipCase {
  const char* name;
  SimChip chip;
};

class OnChip : public ::testing::TestWithParam<ChipCase> {};

TEST_P(OnChip, ProgramThenReadBackTheDemo) {
  DeviceModel model(GetParam().chip);
  auto state = StateOn(model);
  testing::RecordingView view;
  ASSERT_TRUE(LoadHexFileShown(state->image, ZELWIK_DEMO_HEX, view));
  const Image demo = state->image;
  ASSERT_EQ(ProgramChip(*state, view), OpResult::Success) << view.LastStatus();
  ASSERT_EQ(VerifyChip(*state, view), OpResult::Success) << view.LastStatus();

  state->image = Image{};
  ASSERT_EQ(ReadChip(*state, view), OpResult::Success) << view.LastStatus();
  for (int i = 0; i <= demo.ImageEnd; ++i)
    ASSERT_EQ(state->image.MemoryImage[i], demo.MemoryImage[i]) << i;
  EXPECT_EQ(RunChipCommand(*state, view, ChipCommand::Lock1), OpResult::Success);
  EXPECT_TRUE(model.Locks().lock1);
}

TEST_P(OnChip, LinkFaultsEndTheOperation) {
  for (int fault = 0; fault < 2; ++fault) {
    sim::Faults faults;
    if (fault == 0) faults.stopAfterFrames = 25;
    if (fault == 1) faults.doubleReplyAtFrame = 25;
    DeviceModel model(GetParam().chip, faults);
    auto state = StateOn(model);
    testing::RecordingView view;
    EXPECT_EQ(ReadChip(*state, view), OpResult::LinkFailure) << fault;
    EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(), kTextLinkFailure),
              view.statuses.end())
        << fault;
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, OnChip,
                         ::testing::Values(ChipCase{"Pin20", SimChip::C2051},
                                           ChipCase{"Pin40", SimChip::C52_12V}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, MissingPortIsALinkFailureNamingThePort) {
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunCommandLine({"--port", "COM199", "erase"}, out, err, nullptr),
            cli::kExitFailure);
  EXPECT_NE(out.str().find(kTextLinkFailure), std::string::npos) << out.str();
  EXPECT_NE(err.str().find("cannot open COM199: no such port"), std::string::npos) << err.str();
}

TEST(CommandLine, AFileIsNoSerialPort) {
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunCommandLine({"--port", ZELWIK_DEMO_HEX, "erase"}, out, err, nullptr),
            cli::kExitFailure);
  EXPECT_NE(err.str().find("not a serial device"), std::string::npos) << err.str();
  testing::RecordingView view;
  Image image;
  EXPECT_TRUE(LoadHexFileShown(image, ZELWIK_DEMO_HEX, view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 150 bajtów.");
}

}  // namespace
}  // namespace zelwik
