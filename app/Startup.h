#pragma once

namespace zlt::app {

// The whole start-up: single-copy check, the end without parameters, parsing, the window and
// the event loop. Returns the exit code, 0 in every case.
int RunStartup(int argc, char** argv);

} // namespace zlt::app
