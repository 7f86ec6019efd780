// The two-stage uninstaller: stage 1 runs from the install folder and hands over to a copy of itself
// in the temporary folder, which removes the installation (stage 2).
#pragma once

int uninstall_stage1(void);
int uninstall_stage2(const char *folder);
// Removes the shortcuts, the registry entry and, when the folder holds our installation, the game
// folder, the install folder's own files and the folder itself when it is left empty. Always 1.
int do_uninstall(const char *folder);
// Removes a folder with everything in it, never following links; nonzero when the folder is gone.
int delete_tree(const char *folder);
