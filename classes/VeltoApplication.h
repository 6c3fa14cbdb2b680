#pragma once

// The process entry: reads the command line, sets up the platform (clock, main
// run loop, settings store), wakes the controller and runs until SIGINT or
// SIGTERM. Returns the process's exit status.

namespace velto {

int VeltoApplicationMain(int argc, const char* const* argv);

}  // namespace velto
