// Process entry and the main run of the application.
#pragma once
#include <windows.h>

// The whole of WinMain: COM, MAPI, common controls and the application
// context around Run, undone in reverse order. Returns the exit code.
int KorvaneMain(HINSTANCE instance, LPSTR commandLine, int showCommand);

// Configures the trace log, creates the main dialog and runs the message loop.
int Run(LPSTR commandLine, int showCommand);
