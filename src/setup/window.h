// The setup window: pick the CD and the folder, install on a worker thread, then Play.
#pragma once
#include <windows.h>

// Builds the window and runs its message loop until the window is destroyed. log names the log
// file, which a failed install points to; null when there is none.
void window_run(HINSTANCE inst, int show, const char *log);
