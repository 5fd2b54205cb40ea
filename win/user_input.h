#pragma once

#include <windows.h>

namespace zelwik::win {

// Whether the message is the user's input (keys, clicks, the menu and the close box), which an
// operation must not see. Moving the window by its caption and minimising it are not.
bool IsUserInput(const MSG& msg);

}  // namespace zelwik::win
