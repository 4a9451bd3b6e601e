// The program's start-up: the application and the window, the plug-ins
// obtained through the plug-in center, the event loop.
#pragma once

// Runs the program and returns its exit status: -1 when a plug-in cannot be
// loaded, the result of SetVemoProc when binding the process plug-in fails,
// otherwise the result of the event loop. Every failure is shown in a
// critical message box first.
int RunVemora(int argc, char** argv);
