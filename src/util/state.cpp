#include "util/state.h"

setup_opts opts;
int quiet;
int silent;
HWND hwnd;
