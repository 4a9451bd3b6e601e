// The runner's whole life: start-up as the window's (the plug-ins beside the
// program, the image, the monitor), then boards one after another until
// --count of them have finished or it is interrupted.
#pragma once

#include "ExitStatus.h"
#include "Options.h"

// Runs with the options parsed; returns the exit status. A second Ctrl-C
// ends the process from here at once.
int RunBoards(const Options& options);
