// The two-stage uninstaller: stage 1 runs from the install folder and hands over to a copy of itself
// in the temporary folder, which removes the installation (stage 2).
#pragma once

// "/uninstall": asks (unless quiet), copies the running program into the temporary folder and starts
// that copy with "/uninstall2" and the folder of the running program. The exit code: 0, or 1 when the
// copy could not be placed within 5 seconds (said in a box unless quiet; nothing is removed then).
int uninstall_stage1(void);
// "/uninstall2" and a folder: removes the installation there, reports (unless quiet) whether anything
// of it remains, and has its own file deleted at the next restart. The exit code: 0, or 1 when the
// folder holds no installation of ours (said in a box unless quiet; nothing is removed then). Its
// own file is marked for deletion at the next restart only when it is stage 1's temporary copy.
int uninstall_stage2(const char *folder);
// When the folder (made absolute) holds our installation: removes the shortcuts, the registry entry,
// the game folder, the install folder's own files and the folder itself when it is left empty (a
// drive root and the shell's own folders, Documents say, always stay), and returns 1. Otherwise (an
// empty folder text included) removes nothing at all and returns 0.
int do_uninstall(const char *folder);
// Removes a folder with everything in it; links are removed as links and never entered. Whatever
// does not really lie at its own name inside the folder (a link the platform shows as a plain file
// or folder) stays, and so does the folder when it is not where its parent says. Nonzero when the
// folder itself is gone.
int delete_tree(const char *folder);
