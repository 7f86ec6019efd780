// shortcut_fields LINK: a shell link as the setup's uninstaller reads it (IShellLinkA), one
// "name: value" line each: the target, the working folder, the description and the icon. The
// program carries the setup's manifest, so the texts are UTF-8 as the setup's own; lnkinfo prints
// no UTF-8. Exit code 0, 1 when the link cannot be read, 2 on misuse.
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: shortcut_fields LINK\n", stderr);
        return 2;
    }
    CoInitialize(NULL);
    IShellLinkA *sl = NULL;
    IPersistFile *pf = NULL;
    WCHAR wide[MAX_PATH];
    // Room for a target of MAX_PATH characters in UTF-8.
    char path[3 * MAX_PATH] = "", dir[3 * MAX_PATH] = "", description[3 * MAX_PATH] = "", icon[3 * MAX_PATH] = "";
    int icon_index = -1;
    int ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&sl)) &&
             SUCCEEDED(sl->QueryInterface(IID_IPersistFile, (void **)&pf)) &&
             MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, argv[1], -1, wide, MAX_PATH) &&
             SUCCEEDED(pf->Load(wide, STGM_READ)) && sl->GetPath(path, sizeof path, NULL, 0) == S_OK &&
             SUCCEEDED(sl->GetWorkingDirectory(dir, sizeof dir)) &&
             SUCCEEDED(sl->GetDescription(description, sizeof description)) &&
             SUCCEEDED(sl->GetIconLocation(icon, sizeof icon, &icon_index));
    if (ok)
        printf("path: %s\nworking directory: %s\ndescription: %s\nicon: %s,%d\n", path, dir, description, icon,
               icon_index);
    else
        fprintf(stderr, "shortcut_fields: cannot read %s\n", argv[1]);
    if (pf) pf->Release();
    if (sl) sl->Release();
    CoUninitialize();
    return ok ? 0 : 1;
}
