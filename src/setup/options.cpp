#include "setup/options.h"

#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

#include "util/paths.h"
#include "util/util.h"

char **ansi_arguments(int *count) {
    int n_args = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &n_args);
    if (!wide) return NULL;
    char **args = (char **)calloc((size_t)n_args + 1, sizeof(char *));
    if (!args) return NULL;
    for (int i = 0; i < n_args; i++) {
        int n = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, NULL, 0, NULL, NULL);
        args[i] = (char *)calloc(n > 0 ? n : 1, 1);
        if (!args[i]) return NULL;
        if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide[i], -1, args[i], n, NULL, NULL);
    }
    *count = n_args;
    return args;
}

run_mode read_run_mode(int argc, char **argv, const char **folder) {
    for (int i = 1; i < argc; i++)
        if (ascii_same(argv[i], "/quiet")) quiet = 1;
    for (int i = 1; i < argc; i++) {
        if (ascii_same(argv[i], "/uninstall")) return RUN_UNINSTALL1;
        if (ascii_same(argv[i], "/uninstall2")) {
            if (i + 1 >= argc) break;  // without a folder: an ordinary run
            *folder = argv[i + 1];
            return RUN_UNINSTALL2;
        }
    }
    return RUN_INSTALL;
}

// Starts with a separator ("\\server\share", "\folder", "/x") or a drive ("C:\x", "C:x", "C:").
static int anchored(const char *value) {
    if (value[0] == '\\' || value[0] == '/') return 1;
    char c = (char)ascii_fold((unsigned char)value[0]);
    return c >= 'A' && c <= 'Z' && value[1] == ':';
}

void set_path_option(char field[PATH_TEXT], const char *value) {
    char full[PATH_TEXT];
    const char *use = value[0] && !anchored(value) && full_path(value, full) ? full : value;
    // A path too long for the field is left out, never cut: a cut path names another folder.
    if (strlen(use) < PATH_TEXT) {
        strcpy(field, use);
    } else {
        field[0] = 0;
        setup_log("the path is too long: %s", value);
    }
}

void set_default_options(void) {
    fmt_cut(opts.dir, sizeof opts.dir, "%s", "C:\\Games\\Drovenhelm PC");
    opts.desktop = opts.startmenu = 1;
}

void apply_options(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (ascii_same(a, "/silent")) {
            silent = 1;
        } else if (ascii_same(a, "/nodesktop")) {
            opts.desktop = 0;
        } else if (ascii_same(a, "/nostartmenu")) {
            opts.startmenu = 0;
        } else if (ascii_same(a, "/cd") || ascii_same(a, "/dir")) {
            // The value is the next argument whatever it looks like, or empty at the end.
            const char *value = i + 1 < argc ? argv[i + 1] : "";
            set_path_option(ascii_same(a, "/cd") ? opts.cd : opts.dir, value);
            i++;
        }
    }
}
