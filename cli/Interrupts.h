// Ctrl-C (SIGINT) and SIGTERM for the runner: the handler only counts them
// and wakes the main loop through a pipe, which is all a handler may safely
// do; what an interruption means is decided there.
#pragma once

// Installs the handler for SIGINT and SIGTERM (each counts as one
// interruption) and ignores SIGPIPE. False when that fails.
bool CatchInterrupts();

// Interruptions so far.
int Interruptions();

// Readable after each interruption; drain it with DrainInterrupts.
int InterruptFd();
void DrainInterrupts();
