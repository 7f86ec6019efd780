// The setup window: pick the CD and the folder, install on a worker thread, then Play.
#pragma once
#include <windows.h>

// Builds the window and runs its message loop until the window is destroyed.
void window_run(HINSTANCE inst, int show);
