// The install sequence, its registration and shortcuts.
#pragma once
#include "cdsrc/cdsrc.h"
#include "icon/icon.h"
#include "util/state.h"
#include "util/util.h"

// Installs the game from o->cd into o->dir. 1 when "Done." was logged, 0 after the reason was logged.
int do_install(const setup_opts *o, progress_fn callback, void *user);
// Gives the game executable the icon made from the title picture in the copied CD folder. A
// missing, unreadable or oversized picture is passed over in silence (ICON_WRITTEN); the icon
// builder logs its own failures.
icon_result install_game_icon(const char *cd_dir, const char *exe);
// Whether the install may write into dir (its game folder: game), before it writes anything: a
// game folder there must be an install's, the CD folder must not lie in it (an install folder in
// the CD folder is passed over by the copy), a CD image must not claim more than it can hold, and
// data_bytes + audio_bytes (less what they replace) must fit on the drive. 0 after an ERROR line.
int install_target_ok(cd_source *s, const char *dir, const char *game, uint64_t data_bytes, uint64_t audio_bytes);
// 1 when the running setup carries the game executable.
int prebuilt_available(void);
// The two link files; a special folder that cannot be looked up gives an empty text.
void shortcut_paths(char startmenu[PATH_TEXT], char desktop[PATH_TEXT]);
// Writes a shell link; COM must be initialised on the calling thread.
void make_link(const char *link, const char *target, const char *workdir);

#define UNINSTALL_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Drovenhelm_Vessik"

enum {
    PROGRESS_HD_FILES = 6291456,  // added after the hard-disk files
    PROGRESS_FINISH = 2097152,    // added at the very end
    ESTIMATE_EXTRA = 20971520,    // the game's own files beyond the CD and its music, for EstimatedSize
    ICON_PICTURE_MAX = 67108864,  // 64 MiB: a larger title picture is not read
};

