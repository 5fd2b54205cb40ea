// The simulated programmer the other tests trust: its chip model and zelwik-sim as a process. The
// 20-pin address counter is pinned by the operations' tests, which read back what they wrote; its
// pacing is checked by bench/sim_pacing.
#include <gtest/gtest.h>

#include "link/chips.h"
#include "link/commands.h"
#include "link/link.h"
#include "sim/device_model.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik::sim {
namespace {

constexpr int kAny = -1;

// Sends {command, address, data} frames and expects each reply.
void Replay(DeviceModel& m, std::initializer_list<std::array<int, 4>> steps) {
  for (const auto& [command, address, data, reply] : steps) {
    const auto r = m.HandleFrame({std::uint8_t(command), std::uint8_t(address >> 8),
                                  std::uint8_t(address), std::uint8_t(data)});
    EXPECT_TRUE(reply == kAny || (r.size() == 1 && r[0] == reply)) << command << " at " << address;
  }
}

TEST(Model, FlashOnlyClearsBitsUntilErasedWithTheRightVoltageWithinTheChip) {
  DeviceModel m(SimChip::C51_5V);  // 4 KiB
  Replay(m, {{CMD_WRITE_5V, 0x0123, 0xF0, 0xF0},
             {CMD_WRITE_5V, 0x0123, 0x0F, 0x00},
             {CMD_WRITE_12V, 0x10, 0, 0xFF},
             {CMD_WRITE_5V, 0x1000, 0, 0xFF},
             {CMD_WRITE_5V, 0xFFFF, 0, 0xFF},
             {CMD_WRITE_5V, 0x0FFF, 0x12, 0x12},
             {CMD_LOCK1_12V, 0, 0, kAny},
             {CMD_ERASE_12V, 0, 0, kAny},
             {CMD_READ, 0x0123, 0, 0x00},
             {CMD_LOCK1_5V, 0, 0, kAny},
             {CMD_LOCK3_5V, 0, 0, kAny}});
  EXPECT_TRUE(m.Locks().lock1 && !m.Locks().lock2 && m.Locks().lock3);
  Replay(m, {{CMD_ERASE_5V, 0, 0, kAny}, {CMD_READ, 0x0123, 0, 0xFF}});
  EXPECT_FALSE(m.Locks().lock1 || m.Locks().lock3);
}

using testing::SimProcess;

TEST(SimProcess, ServesTheFlashFileWithItsFaultsLogsAndStopsCleanly) {
  testing::TempDir dir;
  SimProcess sim("--chip 89c2051 --flash " ZELWIK_DEMO_HEX " --probe-reply AA --log " +
                 dir / "log");
  ASSERT_EQ(sim.path.rfind("/dev/", 0), 0u) << sim.path;
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.path)) << link.LastError();
  EXPECT_EQ(link.Transact(CMD_PROBE), 0xAA);
  EXPECT_EQ(DetectChip(link), ChipCode::C89C2051);
  // The demo program starts with a long jump, 02 00 06.
  for (int expected : {0x02, 0x00, 0x06}) {
    EXPECT_EQ(link.Transact(CMD_READ_20), expected);
    link.Transact(CMD_NEXT_ADDRESS);
  }
  link.CloseLink();
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_EQ(testing::ReadFile(dir / "log")
                .rfind("FF000000 -> AA\n13000000 -> 00\n11000000 -> 00\n17000000 -> 21\n", 0),
            0u);
}

TEST(SimProcess, RejectsBadArgumentsWithoutServing) {
  for (const char* args :
       {"", "--chip 89C99", "--chip 89C51 --probe-reply 1FF",
        "--chip 89C51 --flash /nonexistent/zelwik.hex", "--chip 89C51 --bogus"}) {
    SimProcess sim(args);
    EXPECT_EQ(sim.path, "") << args;
    EXPECT_EQ(sim.Stop(sim.path.empty() ? 0 : SIGKILL), 2) << args;
  }
}

}  // namespace
}  // namespace zelwik::sim
