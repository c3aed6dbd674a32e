// What the Linux console keyboard offers below the Keyboard interface: its terminal, for a
// poll that waits for keys together with other input.
#pragma once

#include "platform/keyboard.h"

namespace kelvor {

// The descriptor a poll waits on for the keys of `keyboard`: the controlling terminal, when
// `keyboard` is the console's and the terminal is ours to read now; -1 otherwise (a test's
// keyboard, no terminal, a job in the background, whose poll would wake for keys meant for
// the foreground job and never read them).
int KeyDescriptor(Keyboard& keyboard);

}  // namespace kelvor
