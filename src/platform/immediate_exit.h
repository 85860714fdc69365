// Ending the process without running any destructor or exit handler: for a shutdown that
// has saved what it must but left a thread behind (a device call that never returned),
// which may still reach the server's objects and the process's static locks. Standard
// output and error are flushed first. Main thread, at the very end.
#pragma once

namespace orvexa {

[[noreturn]] void ExitImmediately(int status);

}  // namespace orvexa
