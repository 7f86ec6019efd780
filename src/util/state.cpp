#include "state.h"

setup_opts opts;
int quiet;
int silent;
FILE *logf;
HWND hwnd;
