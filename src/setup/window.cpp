#include "window.h"

// The window comes next; until then a run without /silent says so and ends.
void window_run(HINSTANCE, int) {
    MessageBoxA(NULL, "This setup build has no window yet: use /silent.", "Drovenhelm setup", MB_ICONWARNING);
}
