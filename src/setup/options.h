// The command line: which run it asks for, and the install options it sets.
#pragma once
#include "util/state.h"

enum run_mode { RUN_INSTALL, RUN_UNINSTALL1, RUN_UNINSTALL2 };

// The process's arguments in its ANSI code page, null-terminated: UTF-8, every character whole, where
// the manifest's code page holds (util/text.h); elsewhere the characters that the system's code page
// lacks come out as its replacement character. The list lives until the process ends. Null when the
// command line cannot be split or an allocation fails.
char **ansi_arguments(int *count);

// Sets quiet when "/quiet" stands anywhere; then the first "/uninstall", or "/uninstall2" with a
// folder after it (in *folder), picks an uninstall stage. argv[0] is the program and never an option.
run_mode read_run_mode(int argc, char **argv, const char **folder);
// The install folder and both shortcuts as a run starts with them; the CD path is the search's.
void set_default_options(void);
// "/silent", "/nodesktop", "/nostartmenu", "/cd X", "/dir X", in any letter case, over the defaults.
void apply_options(int argc, char **argv);
// Stores a relative path option as a full path: a relative one would break the uninstall entry and
// the shortcuts, and the file dialogs may change the current folder while an install runs. A text
// that starts with a separator or a drive ("D:" alone names the drive's root to the disc source) is
// kept exactly as written: the registry entry records the folder as given.
void set_path_option(char field[PATH_TEXT], const char *value);
