// The process-wide state of the setup. Everything is zero or null at process start.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "util/util.h"  // PATH_TEXT, and logf beside the log function

// The install options; filled from the command line and from the window's fields.
struct setup_opts {
    char cd[PATH_TEXT];   // what cd_open is given: a drive, a folder or an image of any form (cdsrc.h)
    char dir[PATH_TEXT];  // the install folder
    int desktop;          // nonzero: create the desktop shortcut
    int startmenu;        // nonzero: create the Start-menu shortcut
};

extern setup_opts opts;
extern int quiet;   // "/quiet": the uninstaller shows no message boxes
extern int silent;  // "/silent": install without a window; nothing is posted to a window
extern HWND hwnd;   // the setup window, null until it exists

// Private messages from the install to the window.
enum {
    WM_SETUP_LOG = WM_APP + 1,       // lParam: heap copy of a log line, freed by the window
    WM_SETUP_PROGRESS = WM_APP + 2,  // wParam: thousandths done
    WM_SETUP_DONE = WM_APP + 3,      // wParam: the result of do_install
};
