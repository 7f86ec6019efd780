#include "options.h"

#include "util/util.h"

// A relative path would break the uninstall entry and the shortcuts, and the file dialogs may change
// the current folder while the window is open: options hold full paths.
void set_path_option(char field[PATH_TEXT], const char *value) {
    char full[PATH_TEXT];
    DWORD n = value[0] ? GetFullPathNameA(value, sizeof full, full, NULL) : 0;
    fmt_cut(field, PATH_TEXT, "%s", n > 0 && n < sizeof full ? full : value);
}
