// The command line on the Win32 port. The operations themselves run end to end under wine in
// run.sh, frames compared with the Linux build.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_line.h"
#include "ops/hex_files.h"
#include "ops/texts.h"
#include "support/recording_view.h"

namespace zelwik {
namespace {

TEST(CommandLine, PortsThatCannotOpenAreLinkFailuresNamingWhy) {
  for (const auto& [port, why] : {std::pair{"COM199", "cannot open COM199: no such port"},
                                  std::pair{ZELWIK_DEMO_HEX, "not a serial device"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCommandLine({"--port", port, "erase"}, out, err, nullptr), cli::kExitFailure);
    EXPECT_NE(out.str().find(kTextLinkFailure), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(why), std::string::npos) << err.str();
  }
  testing::RecordingView view;
  Image image;
  EXPECT_TRUE(LoadHexFileShown(image, ZELWIK_DEMO_HEX, view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 150 bajtów.");
}

}  // namespace
}  // namespace zelwik
