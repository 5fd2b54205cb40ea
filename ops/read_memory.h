#pragma once

#include <cstdint>

#include "link/chips.h"
#include "link/link.h"
#include "ops/view.h"

namespace zelwik::detail {

// The traffic of a chip read inside an operation's frame: the opening STOP and START, `busyText`,
// addresses 0 to size - 1 into out[0..size) with the gauge following, then the closing STOP. Each
// byte is stored as soon as it arrives, so a LinkFault leaves every byte that came in out.
void ReadMemory(Link& link, View& view, const GroupCommands& commands, int size, std::uint8_t* out,
                const char* busyText);

}  // namespace zelwik::detail
