// Install options that name paths: the command line and the window's fields fill them alike.
#pragma once
#include "util/state.h"

// Puts value into field as a full path (a relative one is taken from the current folder); an empty
// value stays empty, and a value that cannot be made full is kept as written.
void set_path_option(char field[PATH_TEXT], const char *value);
