// ReportToOperator: the one way the server tells whoever runs it about something that
// went wrong but does not stop it (a warning: a file not saved, a broker away, a thread
// that did not end in time). One line on standard error, flushed at once, so the
// terminal, the service journal or a test reading the output sees it as it happens.
// Failures that stop the start-up go through ShowMessageBox instead (message_box.h);
// developers' traces through DebugOutput (debug_output.h).
//
// Safe from any thread: each line is written by one call, so lines never interleave.
#pragma once

namespace orvexa {

// Prints `format` printf-style, followed by a line end.
void ReportToOperator(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvexa
