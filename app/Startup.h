#pragma once

namespace zlt::app {

// The whole start-up: single-copy check, the end without parameters, parsing, the window and
// the event loop, then the verdict on a new version on trial. Returns the exit code: 0, or 1
// when ROLLBACK finds no previous version or can't put it back.
int RunStartup(int argc, char** argv);

// The exit code that the run gives back; set by the rollback.
extern int RunExitCode;

} // namespace zlt::app
