// The two-stage uninstaller: stage 1 runs from the install folder and hands over to a copy of itself
// in the temporary folder, which removes the installation (stage 2). One uninstall of the user's
// runs at a time: all installations share the temporary copy, the registry entry and the shortcuts.
#pragma once

// "/uninstall": unless another uninstall runs (said in a box unless quiet; exit code 1), asks (unless
// quiet), copies the running program into the temporary folder and starts that copy with
// "/uninstall2" and the folder of the running program. The exit code: 0, or 1 when another uninstall
// runs or the copy could not be placed within 5 seconds (said in a box unless quiet); nothing is
// removed then.
int uninstall_stage1(void);
// "/uninstall2" and a folder: removes the installation there, reports (unless quiet) whether anything
// of it remains, and has its own file deleted at the next restart when it is stage 1's temporary
// copy. The exit code: 0, or 1 with nothing removed when another uninstall still runs after 10
// seconds, when the folder holds no installation of ours, or when the game runs and the user cancels
// (with quiet: whenever the game runs).
int uninstall_stage2(const char *folder);

// 1 when the folder (absolute) holds our installation: game\hd\CD.DAT is there, or drovenhelm.exe
// is and the game folder, if any, is an install's.
int is_installation(const char *folder);
// 1 when the game in the folder runs: its program cannot be opened for writing.
int game_running(const char *folder);

enum uninstall_result {
    UNINSTALL_NOT_FOUND,  // the folder holds no installation of ours: nothing was removed
    UNINSTALL_REMOVED,    // nothing of ours is left
    UNINSTALL_REMAINS,    // something of ours could not be removed
};
// When the folder (made absolute) holds our installation: removes this installation's shortcuts and
// registry entry (those that name this folder; another installation's stay), the game folder, the
// install folder's own files and the folder itself when it is left empty (a drive root and the
// shell's own folders, Documents say, always stay). Every object is removed through the handle that
// showed it lies where its name says; whatever does not (a link planted at one of our names) stays.
uninstall_result do_uninstall(const char *folder);
// Removes a folder with everything in it by the same rule; links are removed as links and never
// entered. Nonzero when the folder itself is gone.
int delete_tree(const char *folder);
