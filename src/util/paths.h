// The one home for path rules: joining, parents, extensions, drive roots, and where a path really
// lies. A path that does not fit its buffer is refused, never cut: a cut path names another file.
// The text helpers build natively too (paths.cpp); the platform's half is paths_win.cpp.
#pragma once
#include <stddef.h>

#include "util/text.h"  // PATH_TEXT

// "folder\name" into out (size bytes). A folder that ends in a separator (a drive root "C:\") gets
// no second one; an empty folder gives name alone. 0 when it does not fit, with out empty.
int path_join(char *out, size_t size, const char *folder, const char *name);
// The folder that holds path: everything before its last backslash or slash, keeping the separator
// of a drive root ("C:\x" gives "C:\", since "C:" alone is drive C's current folder). 0 when path
// has no separator, names a root itself, or the parent does not fit.
int path_parent(char *out, size_t size, const char *path);
// path with its extension (from the last dot after the last separator) replaced by ext, which
// includes its dot; 0 when it does not fit, with out empty.
int path_with_extension(char *out, size_t size, const char *path, const char *ext);
// 1 when a and b name one folder, letter case and one trailing backslash aside ("C:\" and "C:").
int path_same(const char *a, const char *b);
// 1 when path lies below folder (not the folder itself), letter case aside.
int path_inside(const char *path, const char *folder);
// 1 for "X:" and "X:\" (or "X:/"): a drive, which names its root folder here.
int path_is_drive_root(const char *path);
// Whether a text that an ANSI function converted into a buffer of limit bytes is whole. The
// shell's (SHGetFolderPathA, SHGetPathFromIDListA, IShellLinkA::GetPath) and FindFirstFileA's
// names (260 bytes) stop a longer text without a word at its last character that fitted, with no
// terminator: in UTF-8 a path of fewer characters than MAX_PATH, or a name of 255, may take three
// times as many bytes. So a text that ends within 3 bytes (the rest of a character) of limit cannot
// be told from a cut one: 0 then, and for a text without a terminator within limit.
int ansi_text_whole(const char *buf, size_t limit);

// The platform's half (no Windows header here: the handle is a HANDLE).
// path made absolute against the current folder; 0 for an empty text or one that does not fit.
int full_path(const char *path, char out[PATH_TEXT]);
// Where the open object h really lies, as the platform names it through the handle ("C:\Games\x",
// "\\server\share\x"); 0 when it cannot be named whole.
int handle_path(void *h, char out[PATH_TEXT]);
// Where the file or folder at path really lies, links followed; 0 when it cannot be opened or named.
int real_path(const char *path, char out[PATH_TEXT]);

// Where an object named path must really lie: below the write root, the root's real path and the
// rest of path; elsewhere the real path of its folder and its own name. 0 when that folder is not
// there or the path does not fit.
int path_expected(const char *path, char out[PATH_TEXT]);
// The folder that an install writes into, for the length of the install (null clears it): below it,
// a link at a file's name or at any folder on the way is never written through. 0 when the folder's
// real path cannot be had.
int write_root_set(const char *folder);
// 1 when a folder may be made or written into at path: below the write root, it (or the folder it
// would be made in) lies where its name says; elsewhere always.
int folder_writable(const char *path);
